#include "provisioning_data/line_reader.h"

#include <cstring>

namespace {

void drop_carriage_return_before_line_feed(std::string& line) {
    const std::size_t size = line.size();
    if (size >= 2 && line[size - 2] == '\r') {
        line.erase(size - 2, 1);
    }
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
