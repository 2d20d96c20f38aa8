#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace process {

namespace {

int native_signal(Signal signal) {
    switch (signal) {
    case Signal::interrupt:
        return SIGINT;
    case Signal::terminate:
        return SIGTERM;
    case Signal::hang_up:
        return SIGHUP;
    }
    return SIGTERM;
}

// Only system calls between fork and exec, so tests may start programs from several threads.
[[noreturn]] void exec_child(const ProcessRequest& request, char* const* argv, int out, int err,
                             gid_t group) {
    if (::chdir(request.directory.c_str()) != 0) {
        ::_exit(127);
    }
    ::umask(static_cast<mode_t>(request.creationMask));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    if (request.ignoreSizeLimitSignal) {
        ::signal(SIGXFSZ, SIG_IGN);
    }
    if (request.fileSizeLimit) {
        const rlimit limit{*request.fileSizeLimit, *request.fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (request.user && (::setgid(group) != 0 || ::setuid(*request.user) != 0)) {
        ::_exit(126);
    }
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(argv[0], argv);
    ::_exit(127);
}

void release_free_memory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

bool read_more(int fd, std::string& bytes) {
    char buffer[4096];
    ssize_t n = 0;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return n > 0;
}

std::string read_all(int fd) {
    std::string bytes;
    while (read_more(fd, bytes)) {
    }
    return bytes;
}

gid_t group_of(std::optional<std::uint32_t> user) {
    const passwd* entry = user ? ::getpwuid(*user) : nullptr;
    return entry != nullptr ? entry->pw_gid : static_cast<gid_t>(user.value_or(0));
}

} // namespace

Process::Process(const ProcessRequest& request) {
    std::vector<std::string> words = {request.program};
    words.insert(words.end(), request.args.begin(), request.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    std::FILE* err = std::tmpfile();
    const gid_t group = group_of(request.user);
    // A forked child counts the pages it shares with the test in its peak memory
    // until it execs: give back what earlier tests freed first.
    release_free_memory();
    const pid_t child = ::fork();
    if (child == 0) {
        exec_child(request, argv.data(), out[1], ::fileno(err), group);
    }
    ::close(out[1]);
    id_ = child;
    out_ = out[0];
    err_ = ::dup(::fileno(err));
    std::fclose(err);
}

Process::~Process() {
    if (!waited_) {
        wait();
    }
}

void Process::send(Signal signal) {
    if (id_ > 0) {
        ::kill(static_cast<pid_t>(id_), native_signal(signal));
    }
}

bool Process::read_until(std::string_view text) {
    while (out_text_.find(text) == std::string::npos) {
        if (id_ <= 0 || !read_more(static_cast<int>(out_), out_text_)) {
            return false;
        }
    }
    return true;
}

ProcessResult Process::wait() {
    ProcessResult result;
    waited_ = true;
    if (id_ <= 0) {
        return result;
    }
    result.out = out_text_ + read_all(static_cast<int>(out_));
    ::close(static_cast<int>(out_));
    int status = 0;
    rusage usage{};
    ::wait4(static_cast<pid_t>(id_), &status, 0, &usage);
    result.maxRssKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ::lseek(static_cast<int>(err_), 0, SEEK_SET);
    result.err = read_all(static_cast<int>(err_));
    ::close(static_cast<int>(err_));
    return result;
}

ProcessResult run_process(const ProcessRequest& request) {
    Process process(request);
    return process.wait();
}

bool running_as_root() {
    return ::geteuid() == 0;
}

std::optional<std::uint32_t> unprivileged_user() {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        return std::nullopt;
    }
    return nobody->pw_uid;
}

} // namespace process
