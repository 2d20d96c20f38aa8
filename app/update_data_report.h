#pragma once

#include "app/reports.h"
#include "provisioning_data/update_data_check.h"

#include <string>
#include <string_view>
#include <unordered_map>

// A held text's rendering, made once: the check holds each distinct text once,
// so its address names it.
class RenderedTexts {
  public:
    explicit RenderedTexts(std::string (*render)(std::string_view)) : render_(render) {}
    const std::string& of(std::string_view held);

  private:
    std::string (*render_)(std::string_view);
    std::unordered_map<const char*, std::string> rendered_;
    const std::pair<const char* const, std::string>* last_ = nullptr;
};

// The update-data report, printed in large pieces a device at a time.
class UpdateDataReport {
  public:
    UpdateDataReport(std::string_view path, bool json);
    void list(const ListedDevice& device);
    // Prints what the check found after the devices, then the summary.
    void finish(const UpdateDataCheck& check);
    // A read that failed after the devices listed so far: as text, the lines
    // printed after them; as JSON, the document closed with the status and lines.
    void fail(int status, std::string_view printed);

  private:
    std::string path_;
    bool json_;
    std::size_t devicesListed_ = 0;
    ChunkedOutput output_;
    RenderedTexts names_;
};
