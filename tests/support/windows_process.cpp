#include "tests/support/process.h"

// The other system headers need windows.h before them.
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <mutex>

namespace process {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr long kBytesPerKiB = 1024;
constexpr std::intptr_t kNone = -1;
// How a program ends on Ctrl-C, and how a POSIX shell would report SIGINT.
constexpr DWORD kControlCExit = 0xC000013A;
constexpr int kInterruptedStatus = 128 + 2;

// The exit codes a forced end leaves, as a POSIX shell reports a signal's.
DWORD forced_exit_code(Signal signal) {
    switch (signal) {
    case Signal::interrupt:
        return 128 + 2;
    case Signal::terminate:
        return 128 + 15;
    case Signal::hang_up:
        return 128 + 1;
    }
    return 128 + 15;
}

std::wstring widened(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

// One argument as the C runtime's and CommandLineToArgvW's parsing takes it back whole.
std::wstring quoted(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        text.push_back(c);
        backslashes = 0;
    }
    text.append(backslashes * 2, L'\\');
    text.push_back(L'"');
    return text;
}

std::wstring command_line(const ProcessRequest& request) {
    std::wstring line = quoted(widened(request.program));
    for (const std::string& argument : request.args) {
        line.push_back(L' ');
        line.append(quoted(widened(argument)));
    }
    return line;
}

HANDLE as_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// Standard error goes to a file that vanishes with its last handle, so a
// child's diagnostics never wait on a pipe nobody reads yet.
HANDLE error_file() {
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (::GetTempPathW(MAX_PATH + 1, directory) == 0 ||
        ::GetTempFileNameW(directory, L"err", 0, name) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void set_inherited(HANDLE handle, bool inherited) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, inherited ? HANDLE_FLAG_INHERIT : 0);
}

// Handles are inheritable only while one child starts, so children started from
// several threads at once get their own three and no other's pipe.
std::mutex starting;

bool start(const ProcessRequest& request, HANDLE in, HANDLE out, HANDLE err,
           PROCESS_INFORMATION& started) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::wstring program = widened(request.program);
    std::wstring line = command_line(request);
    const std::wstring directory = widened(request.directory);
    const std::lock_guard<std::mutex> guard(starting);
    for (const HANDLE handle : {in, out, err}) {
        set_inherited(handle, true);
    }
    const bool ok =
        ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                         CREATE_NEW_PROCESS_GROUP, nullptr,
                         directory.empty() ? nullptr : directory.c_str(), &startup, &started) != 0;
    for (const HANDLE handle : {in, out, err}) {
        set_inherited(handle, false);
    }
    return ok;
}

bool read_more(HANDLE handle, std::string& bytes) {
    char buffer[4096];
    DWORD count = 0;
    if (::ReadFile(handle, buffer, sizeof buffer, &count, nullptr) == 0 || count == 0) {
        return false;
    }
    bytes.append(buffer, count);
    return true;
}

std::string read_all(HANDLE handle) {
    std::string bytes;
    while (read_more(handle, bytes)) {
    }
    return bytes;
}

} // namespace

Process::Process(const ProcessRequest& request) {
    HANDLE outRead = INVALID_HANDLE_VALUE;
    HANDLE outWrite = INVALID_HANDLE_VALUE;
    if (::CreatePipe(&outRead, &outWrite, nullptr, kPipeBuffer) == 0) {
        return;
    }
    const HANDLE err = error_file();
    const HANDLE in =
        ::CreateFileW(L"NUL", GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION started{};
    const bool ok = err != INVALID_HANDLE_VALUE && in != INVALID_HANDLE_VALUE &&
                    start(request, in, outWrite, err, started);
    ::CloseHandle(outWrite);
    ::CloseHandle(in);
    if (!ok) {
        ::CloseHandle(outRead);
        ::CloseHandle(err);
        return;
    }
    ::CloseHandle(started.hThread);
    id_ = reinterpret_cast<std::intptr_t>(started.hProcess);
    out_ = reinterpret_cast<std::intptr_t>(outRead);
    err_ = reinterpret_cast<std::intptr_t>(err);
}

Process::~Process() {
    if (!waited_) {
        wait();
    }
}

// Ctrl-Break reaches the child's own process group where the two share a
// console. Windows has nothing like the other signals that a program could
// catch, so those, and Ctrl-Break without a console, end the child outright.
void Process::send(Signal signal) {
    if (id_ == kNone) {
        return;
    }
    const DWORD group = ::GetProcessId(as_handle(id_));
    if (signal == Signal::interrupt && ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, group) != 0) {
        return;
    }
    ::TerminateProcess(as_handle(id_), forced_exit_code(signal));
}

bool Process::read_until(std::string_view text) {
    while (out_text_.find(text) == std::string::npos) {
        if (id_ == kNone || !read_more(as_handle(out_), out_text_)) {
            return false;
        }
    }
    return true;
}

ProcessResult Process::wait() {
    ProcessResult result;
    waited_ = true;
    if (id_ == kNone) {
        return result;
    }
    const HANDLE process = as_handle(id_);
    result.out = out_text_ + read_all(as_handle(out_));
    ::CloseHandle(as_handle(out_));
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    result.status = code == kControlCExit ? kInterruptedStatus : static_cast<int>(code);
    PROCESS_MEMORY_COUNTERS memory{};
    if (::K32GetProcessMemoryInfo(process, &memory, sizeof memory) != 0) {
        result.maxRssKiB = static_cast<long>(memory.PeakWorkingSetSize) / kBytesPerKiB;
    }
    ::CloseHandle(process);
    LARGE_INTEGER start{};
    ::SetFilePointerEx(as_handle(err_), start, nullptr, FILE_BEGIN);
    result.err = read_all(as_handle(err_));
    ::CloseHandle(as_handle(err_));
    return result;
}

ProcessResult run_process(const ProcessRequest& request) {
    Process process(request);
    return process.wait();
}

// Mounting and giving files away, as the tests do it as root, have no counterpart here.
bool running_as_root() {
    return false;
}

std::optional<std::uint32_t> unprivileged_user() {
    return std::nullopt;
}

} // namespace process
