#include "platform/windows_internal.h"

// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

using namespace detail;

namespace {

// What the process ends with on Ctrl-C, as the system's own handler ends it.
constexpr UINT kInterruptedStatus = 0xC000013A;

// The names a console control handler removes. The handler runs on a thread of
// its own, so the names are guarded rather than kept in fixed storage.
std::mutex pending_removal_lock;

std::vector<std::wstring> pending_removals(kRemovalSlots);

BOOL WINAPI remove_pending_and_end(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // Held to the end, so the run cannot rename or forget a file meanwhile.
    pending_removal_lock.lock();
    for (const std::wstring& name : pending_removals) {
        if (!name.empty()) {
            ::DeleteFileW(name.c_str());
        }
    }
    ::TerminateProcess(::GetCurrentProcess(), kInterruptedStatus);
    return TRUE;
}

} // namespace

// A write to a closed pipe fails with an error here, and there is no size limit signal.
void keep_running_on_broken_pipes_and_size_limits() {}

// Windows removes by path alone: a name is kept joined to its directory's path.
std::size_t remove_on_termination_signal(const Directory& directory, std::string_view name) {
    static const bool installed = ::SetConsoleCtrlHandler(remove_pending_and_end, TRUE) != 0;
    (void)installed;
    const std::wstring path = native(joined_path(directory.path(), name));
    const std::lock_guard<std::mutex> guard(pending_removal_lock);
    const auto free = std::find(pending_removals.begin(), pending_removals.end(), std::wstring());
    if (path.empty() || free == pending_removals.end()) {
        return kNoRemoval;
    }
    *free = path;
    return static_cast<std::size_t>(free - pending_removals.begin());
}

void forget_removal_on_termination_signal(std::size_t slot) {
    if (slot >= kRemovalSlots) {
        return;
    }
    const std::lock_guard<std::mutex> guard(pending_removal_lock);
    pending_removals[slot].clear();
}

// The console handler runs on a thread of its own and takes the lock above, so
// nothing needs holding back.
TerminationSignalsHeld::TerminationSignalsHeld() : saved_{} {}

TerminationSignalsHeld::~TerminationSignalsHeld() = default;

// A process without a console or with closed handles gets no handle numbers reused here.
void fill_closed_standard_streams() {}

std::vector<std::string> command_line_arguments(int, char**) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (words == nullptr) {
        return arguments;
    }
    for (int i = 0; i < count; ++i) {
        arguments.push_back(narrowed(words[i]));
    }
    ::LocalFree(words);
    return arguments;
}

std::string host_name() {
    std::array<wchar_t, 256> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
        return {};
    }
    return narrowed(std::wstring_view(name.data(), size));
}

std::string user_name() {
    std::array<wchar_t, 257> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!::GetUserNameW(name.data(), &size) || size == 0) {
        return {};
    }
    return narrowed(std::wstring_view(name.data(), size - 1)); // size counts the NUL
}

bool standard_error_is_terminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string utc_time_now() {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text.data();
}

void use_binary_standard_streams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

} // namespace platform
