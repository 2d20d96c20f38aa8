#pragma once

// Running another program and collecting what it did: the end-to-end tests run
// the real executables through this, on every platform alike.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace process {

struct ProcessRequest {
    std::string program;
    std::vector<std::string> args;
    std::string directory;            // the working directory
    std::uint32_t creationMask = 022; // the umask
    std::optional<std::uint64_t> fileSizeLimit = std::nullopt;
    bool ignoreSizeLimitSignal = true; // a write past the limit fails instead of killing
    std::optional<std::uint32_t> user =
        std::nullopt; // run under this user id (and its group), as root
};

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1; // the exit status, or 128 + the signal that ended it
    long maxRssKiB = 0;
};

enum class Signal { interrupt, terminate, hang_up };

// A program started in the background, for tests that act while it runs.
class Process {
  public:
    explicit Process(const ProcessRequest& request);
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    void send(Signal signal);
    // Reads its standard output until text has appeared; false if it ended first.
    bool read_until(std::string_view text);
    // Reads its output to the end and waits for it.
    ProcessResult wait();

  private:
    std::intptr_t id_ = -1;
    std::intptr_t out_ = -1;
    std::intptr_t err_ = -1;
    bool waited_ = false;
    std::string out_text_;
};

ProcessResult run_process(const ProcessRequest& request);

// Whether this process may do what only the administrator may (mount, change owners).
bool running_as_root();

// The user id of an unprivileged account to drop to, when this process is root.
std::optional<std::uint32_t> unprivileged_user();

} // namespace process
