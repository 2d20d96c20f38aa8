#include "platform/platform.h"

#include <array>
#include <climits>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace platform {

std::string host_name() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return name.data();
}

std::string user_name() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
}

bool standard_error_is_terminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string utc_time_now() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    std::array<char, 32> text{};
    if (::gmtime_r(&now, &parts) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return {};
    }
    return text.data();
}

} // namespace platform
