#include "provisioning_data/line_reader.h"

#include <cstring>

namespace {

// The carriage return a line may hold before its line feed, and the line feed.
constexpr std::size_t kLineEndBytes = 2;
constexpr std::size_t kKeptGatheredCapacity = 1024 * 1024;

void drop_carriage_return_before_line_feed(std::string& line) {
    const std::size_t size = line.size();
    if (size >= 2 && line[size - 1] == '\n' && line[size - 2] == '\r') {
        line.erase(size - 2, 1);
    }
}

} // namespace

bool LineReader::refill() {
    std::size_t count = 0;
    platform::Error error;
    if (positioned_) {
        error = platform::read_fully_at(
            file_, offset_,
            std::span(reinterpret_cast<std::uint8_t*>(buffer_.data()), buffer_.size()), count);
        offset_ += count;
    } else {
        error = platform::read_some(file_, buffer_, count);
    }
    begin_ = 0;
    end_ = count;
    if (!error_.failed()) {
        error_ = error;
    }
    if (hash_ != nullptr) {
        hash_->add(std::span(reinterpret_cast<const std::uint8_t*>(buffer_.data()), count));
    }
    return end_ > 0;
}

bool LineReader::read_to_end() {
    while (refill()) {
    }
    return !error_.failed();
}

// Holds at most the cap and a line end, so a line past the cap costs no more.
bool LineReader::append_within_cap(const char* bytes, std::size_t count) {
    const std::size_t room = max_length_ + kLineEndBytes - gathered_.size();
    if (count > room) {
        return false;
    }
    gathered_.append(bytes, count);
    return true;
}

bool LineReader::within_cap(std::string_view line) {
    const std::size_t length = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
    line_too_long_ = length > max_length_;
    return !line_too_long_;
}

bool LineReader::end_whole_line(std::string_view whole, std::string_view& line) {
    if (whole.size() >= 2 && whole[whole.size() - 2] == '\r') {
        gathered_.assign(whole);
        drop_carriage_return_before_line_feed(gathered_);
        whole = gathered_;
    }
    if (!within_cap(whole)) {
        return false;
    }
    line = whole;
    return true;
}

bool LineReader::end_gathered_line(std::string_view& line) {
    drop_carriage_return_before_line_feed(gathered_);
    if (!within_cap(gathered_)) {
        gathered_.clear();
        return false;
    }
    line = gathered_;
    return !gathered_.empty();
}

bool LineReader::next(std::string& line) {
    std::string_view view;
    const bool read = next_view(view);
    // A gathered line is handed over, not copied: it may be the cap's size.
    if (read && view.data() == gathered_.data()) {
        line.swap(gathered_);
    } else {
        line.assign(view);
    }
    return read;
}

bool LineReader::next_view(std::string_view& line) {
    line = {};
    // A long line's storage is not kept for the short lines after it.
    if (gathered_.capacity() > kKeptGatheredCapacity) {
        std::string().swap(gathered_);
    }
    if (line_too_long_) {
        return false;
    }
    if (const void* line_feed = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_)) {
        const char* start = buffer_.data() + begin_;
        const auto taken =
            static_cast<std::size_t>(static_cast<const char*>(line_feed) - start) + 1;
        begin_ += taken;
        return end_whole_line(std::string_view(start, taken), line);
    }
    // The line runs past what the buffer holds: gathered a piece at a time.
    gathered_.clear();
    while (true) {
        if (begin_ == end_ && !refill()) {
            return end_gathered_line(line);
        }
        const char* start = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const void* line_feed = std::memchr(start, '\n', available);
        const std::size_t taken =
            line_feed == nullptr
                ? available
                : static_cast<std::size_t>(static_cast<const char*>(line_feed) - start) + 1;
        if (!append_within_cap(start, taken)) {
            line_too_long_ = true;
            gathered_.clear();
            return false;
        }
        begin_ += taken;
        if (line_feed != nullptr) {
            return end_gathered_line(line);
        }
    }
}
