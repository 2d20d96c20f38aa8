#pragma once

#include "common/device_id.h"
#include "common/status.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

// Which check of the libraries failed. The programs say what each means.
enum class Check : std::uint8_t {
    none,
    // An identifier that does not fit 16 bits: its name ("VID") in subject, as given in path.
    bad_identifier,
    // The update data.
    update_data_unreadable, // cannot be opened or read
    line_too_long,          // a line the lookup reads is over the cap
    no_entry,               // no entry for the device
    // A blob's text; Failure::subject names the blob ("mac_string", "phy_string").
    odd_hex,
    bad_hex,
    long_hex,
    // The base image, at Failure::path.
    base_unopenable,  // missing, a directory, unreadable
    base_is_stream,   // a FIFO or socket, which is read only once
    region_too_small, // the BDP region cannot hold the board data
    region_outside,   // it starts inside the header or ends past the image
    // The output, at Failure::path, before anything is written.
    output_is_base,       // the output names the base image
    output_is_other_file, // it is another file of the run; subject names which
    output_refused,       // the system refuses to open it for writing
    output_unexamined,    // its attributes cannot be read
    output_unresolved,    // where a link leads cannot be told
    output_uncreated,     // it cannot be created through a dangling link
    output_moving,        // another run kept putting its image there
    temporary_uncreated,  // no temporary file in the directory at path
    permissions_unset,    // the image cannot take the permissions it should have
    // Writing, at Failure::path; the output then counts as not written.
    base_unread,         // reading the base failed, or it ended before its length
    output_unwritten,    // writing failed
    output_unflushed,    // flushing to stable storage failed
    temporary_unnamed,   // an unnamed temporary file cannot be given a name in path
    output_unrenamed,    // the temporary file cannot be renamed onto path
    output_unclosed,     // closing reported a late write error
    directory_unflushed, // the directory's flush failed
    // The hash library.
    digest_library,
    // Update data or a table of devices being converted, at Failure::place.
    not_well_formed,       // not well-formed XML or CSV; subject is the reader's reason
    column_missing,        // the table's header lacks the column named in subject
    column_repeated,       // the header names the column in subject twice
    identifier_unwritable, // an identifier (subject: its name) missing or not 1 to 4 hex digits
    value_holds_less_than, // a value (subject: its tag) the scanner would end early
    value_holds_line_feed, // ... or take as two lines
    value_too_long,        // a value on a line longer than the scanner reads
    exprom_unwritable,     // an exprom neither True nor False
    entry_unclosed,        // the devices of an entry that ends with no image
    device_conflict,       // a device listed again with other values (place.firstLine)
    value_unread,          // a device that does not read back as it was written
};

// Where in an input file a failure lies: a line (a table's row), a column, the
// device it concerned and, for a device listed twice, the line of its first listing.
struct InputPlace {
    std::size_t line = 0;
    std::size_t column = 0;
    std::optional<DeviceId> device;
    std::size_t firstLine = 0;
};

// What failed: the status a program ends with, which check, the file it
// concerned and the operating system's reason, when it gave one.
struct Failure {
    Status status = PROVKIT_OK;
    Check check = Check::none;
    std::string path;
    platform::Error reason;
    std::string_view subject; // which of several things it concerned, when it matters
    InputPlace place{};       // when it concerned a place in an input

    bool failed() const { return status != PROVKIT_OK; }
};

inline Failure failure_of(Status status, Check check, std::string_view path = {},
                          platform::Error reason = {}, std::string_view subject = {}) {
    return {status, check, std::string(path), reason, subject};
}

// A failure at a place in an input file.
inline Failure failure_at(Status status, Check check, const InputPlace& place,
                          std::string_view subject = {}) {
    return {status, check, {}, {}, subject, place};
}

// A value, or the failure that kept it from being made: returned by value through
// every layer, and never thrown.
template <typename T = std::monostate> class [[nodiscard]] Result {
  public:
    Result() requires std::is_same_v<T, std::monostate> : state_(T{}) {}
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    explicit operator bool() const { return std::holds_alternative<T>(state_); }
    T& operator*() { return std::get<T>(state_); }
    const T& operator*() const { return std::get<T>(state_); }
    T* operator->() { return &std::get<T>(state_); }
    const T* operator->() const { return &std::get<T>(state_); }
    const Failure& error() const { return std::get<Failure>(state_); }

  private:
    std::variant<T, Failure> state_;
};
