#pragma once

#include "common/device_id.h"
#include "provisioning_data/update_data.h"
#include "provisioning_data/update_data_check.h"

#include <cstddef>
#include <memory>
#include <span>

// The entries the check has open: the devices listed since the last "<image>"
// that closed them, in listing order. An "<image>" on a line they read whole
// closes them all at once; what a line writes into a tag is held once for all of
// them, and each device is met once per tag when a write first reaches it, so the
// work and memory stay linear however many devices an entry lists.
class OpenEntries {
  public:
    OpenEntries(UpdateDataCheck& check, bool keepValues);
    ~OpenEntries();
    OpenEntries(const OpenEntries&) = delete;
    OpenEntries& operator=(const OpenEntries&) = delete;

    bool empty() const;
    // The oldest open entry: its key line, and whether it read a value tag so far.
    std::size_t oldest_key_line() const;
    bool oldest_has_value_tags() const;

    // Every open entry reads the line whole; an "<image>" among its tags closes them all.
    void take_whole_line(std::size_t number, const EntryTags& tags);
    // Devices first listed on line number, in line order; each then reads the
    // text after its own key (read_after_key, the k-th's tags), and open_listed()
    // closes those whose text held an "<image>" and keeps the others open.
    void list(std::size_t number, std::span<const DeviceId> ids);
    void read_after_key(std::size_t k, const EntryTags& tail);
    void open_listed(std::size_t number);
    // The file ended: the open entries close with no image.
    void close_all_at_end();
    // The reading ended at a line past the cap: the open entries find nothing.
    void forget();

  private:
    class State;
    std::unique_ptr<State> state_;
};
