#include "platform/posix_internal.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

using namespace detail;

namespace {

// The names a signal handler removes, each set and cleared with the signals
// blocked, so the handler, which may not allocate, only reads them.
struct PendingRemoval {
    int directory = -1;
    char* name = nullptr;
};

PendingRemoval pending_removals[kRemovalSlots] = {};

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_pending_and_die(int signal) {
    for (const PendingRemoval& removal : pending_removals) {
        if (removal.name != nullptr) {
            ::unlinkat(removal.directory, removal.name, 0);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void install_termination_handlers() {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    ::sigemptyset(&action.sa_mask);
    for (const int signal : kTerminationSignals) {
        ::sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kTerminationSignals) {
        struct sigaction previous {};
        ::sigaction(signal, nullptr, &previous);
        // A signal the caller chose to ignore stays ignored.
        if (previous.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

sigset_t termination_signals() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal : kTerminationSignals) {
        ::sigaddset(&set, signal);
    }
    return set;
}

} // namespace

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

void use_binary_standard_streams() {}

void keep_running_on_broken_pipes_and_size_limits() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

std::size_t remove_on_termination_signal(const Directory& directory, std::string_view name) {
    static const bool installed = (install_termination_handlers(), true);
    (void)installed;
    const std::string entry = terminated(name);
    std::size_t slot = kNoRemoval;
    if (entry.empty()) {
        return slot;
    }
    const TerminationSignalsHeld held;
    for (std::size_t i = 0; i < kRemovalSlots && slot == kNoRemoval; ++i) {
        if (pending_removals[i].name == nullptr) {
            pending_removals[i] = {fd_of(directory.handle()), ::strdup(entry.c_str())};
            slot = pending_removals[i].name != nullptr ? i : kNoRemoval;
        }
    }
    return slot;
}

void forget_removal_on_termination_signal(std::size_t slot) {
    if (slot >= kRemovalSlots) {
        return;
    }
    const TerminationSignalsHeld held;
    std::free(pending_removals[slot].name);
    pending_removals[slot] = {};
}

TerminationSignalsHeld::TerminationSignalsHeld() {
    static_assert(sizeof(sigset_t) <= sizeof saved_);
    const sigset_t held = termination_signals();
    ::pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(saved_));
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
    ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

void fill_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // open() takes the lowest free descriptor: this one.
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

} // namespace platform
