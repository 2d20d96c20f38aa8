#include "provisioning_data/line_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

void drop_carriage_return_before_line_feed(std::string& line) {
    const std::size_t size = line.size();
    if (size >= 2 && line[size - 2] == '\r') {
        line.erase(size - 2, 1);
    }
}

} // namespace

bool LineReader::refill() {
    ssize_t count = 0;
    do {
        count = ::read(fd_, buffer_.data(), buffer_.size());
    } while (count < 0 && errno == EINTR);
    begin_ = 0;
    end_ = count > 0 ? static_cast<std::size_t>(count) : 0;
    failed_ = failed_ || count < 0;
    return end_ > 0;
}

bool LineReader::next(std::string& line) {
    line.clear();
    for (;;) {
        if (begin_ == end_ && !refill()) {
            return !line.empty();
        }
        const char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const void* line_feed = std::memchr(start, '\n', available);
        if (line_feed == nullptr) {
            line.append(start, available);
            begin_ = end_;
            continue;
        }
        const auto taken =
            static_cast<std::size_t>(static_cast<const char*>(line_feed) - start) + 1;
        line.append(start, taken);
        begin_ += taken;
        drop_carriage_return_before_line_feed(line);
        return true;
    }
}
