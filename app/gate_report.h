#pragma once

#include "app/json_text.h"
#include "app/reports.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What the gate found of one device, or of a file beside the devices.
enum class Verdict {
    ok,
    failed,             // the manifest says the batch failed it
    missing,            // its image is not there
    unreadable,         // its image cannot be read (67)
    different,          // length or SHA-256 not as the manifest lists them
    not_as_expected,    // not the image fwbforge2 would write now
    not_in_manifest,    // the update data lists it, the manifest does not
    not_in_update_data, // the manifest lists it, the update data does not
    not_selected,       // the manifest lists it outside its own selection
    stale,              // an image file the manifest does not list
};

struct GateFinding {
    std::string name; // the device's, or the stale file's
    Verdict verdict = Verdict::ok;
    std::vector<std::string> problems;
    std::vector<PartDifference> differences;
};

// The gate's report, a line (or a JSON object) at a time as each device is checked.
class GateReport {
  public:
    GateReport(std::string_view manifest, bool json);
    void update_data(std::string_view path, std::string_view problem);
    void add(const GateFinding& finding);
    // The closing summary; the status the findings give.
    int finish(int fileStatus);
    // A failure before the report could begin, with its lines.
    static int fail(std::string_view manifest, bool json, int status, std::string_view printed);

  private:
    std::string manifest_;
    bool json_;
    ChunkedOutput out_;
    std::string updateDataPath_;
    std::string updateDataProblem_;
    std::size_t findings_ = 0;
    std::size_t devices_ = 0;
    std::size_t ok_ = 0;
    std::size_t stale_ = 0;
    bool differs_ = false;
    bool unreadable_ = false;
};
