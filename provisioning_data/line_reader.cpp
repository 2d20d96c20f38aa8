#include "provisioning_data/line_reader.h"

#include <cstring>

namespace {

// The carriage return a line may hold before its line feed, and the line feed.
constexpr std::size_t kLineEndBytes = 2;

void drop_carriage_return_before_line_feed(std::string& line) {
    const std::size_t size = line.size();
    if (size >= 2 && line[size - 1] == '\n' && line[size - 2] == '\r') {
        line.erase(size - 2, 1);
    }
}

std::size_t length_without_line_feed(const std::string& line) {
    return !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
}

} // namespace

bool LineReader::refill() {
    std::size_t count = 0;
    const platform::Error error = platform::read_some(file_, buffer_, count);
    begin_ = 0;
    end_ = count;
    failed_ = failed_ || error.failed();
    return end_ > 0;
}

// Holds at most the cap and a line end, so a line past the cap costs no more.
bool LineReader::append_within_cap(std::string& line, const char* bytes, std::size_t count) {
    const std::size_t room = max_length_ + kLineEndBytes - line.size();
    if (count > room) {
        return false;
    }
    line.append(bytes, count);
    return true;
}

bool LineReader::end_line(std::string& line) {
    drop_carriage_return_before_line_feed(line);
    if (length_without_line_feed(line) > max_length_) {
        line_too_long_ = true;
        line.clear();
        return false;
    }
    return !line.empty();
}

bool LineReader::next(std::string& line) {
    line.clear();
    while (!line_too_long_) {
        if (begin_ == end_ && !refill()) {
            return end_line(line);
        }
        const char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const void* line_feed = std::memchr(start, '\n', available);
        const std::size_t taken =
            line_feed == nullptr
                ? available
                : static_cast<std::size_t>(static_cast<const char*>(line_feed) - start) + 1;
        if (!append_within_cap(line, start, taken)) {
            line_too_long_ = true;
            break;
        }
        begin_ += taken;
        if (line_feed != nullptr) {
            return end_line(line);
        }
    }
    line.clear();
    return false;
}
