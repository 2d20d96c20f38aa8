#include "lib/failure_text.h"

namespace {

std::string with_reason(std::string_view action, const Failure& failure) {
    return std::string(action) + " " + failure.path + ": " + failure.reason.reason();
}

// A failed write or read of the image: the output counts as not written.
bool fails_the_write(Check check) {
    switch (check) {
    case Check::base_unread:
    case Check::output_unwritten:
    case Check::output_unflushed:
    case Check::temporary_unnamed:
    case Check::output_unrenamed:
    case Check::output_unclosed:
    case Check::directory_unflushed:
    case Check::digest_library:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string diagnostic_of(const Failure& failure) {
    switch (failure.check) {
    case Check::output_refused:
        return with_reason("cannot write to", failure);
    case Check::output_is_other_file:
        return "cannot write to " + failure.path + ": it is " + std::string(failure.subject);
    case Check::output_uncreated:
        return with_reason("cannot create", failure);
    case Check::output_unexamined:
        return with_reason("cannot examine", failure);
    case Check::output_unresolved:
        return with_reason("cannot resolve", failure);
    case Check::output_moving:
        return "cannot replace " + failure.path + ": it changed while it was opened";
    case Check::temporary_uncreated:
        return with_reason("cannot create a temporary file in", failure);
    case Check::permissions_unset:
        return with_reason("cannot set the permissions of the image for", failure);
    case Check::output_unwritten:
        return with_reason("cannot write", failure);
    case Check::output_unflushed:
        return with_reason("cannot flush", failure);
    case Check::temporary_unnamed:
        return with_reason("cannot name a temporary file in", failure);
    case Check::output_unrenamed:
        return with_reason("cannot rename a temporary file onto", failure);
    case Check::output_unclosed:
        return with_reason("cannot close", failure);
    case Check::directory_unflushed:
        return with_reason("cannot flush the directory", failure);
    case Check::base_unread:
        return "cannot read " + failure.path + ": " +
               (failure.reason.failed() ? failure.reason.reason()
                                        : "it ended before the length it had when opened");
    case Check::base_is_stream:
        return "cannot read " + failure.path +
               ": a FIFO or socket is read only once, and is no image";
    default:
        return {};
    }
}

std::string forge_words(const Failure& failure) {
    switch (failure.check) {
    case Check::bad_identifier:
        return "fwbforge2: Bad " + std::string(failure.subject) + " " + failure.path;
    case Check::update_data_unreadable:
        return "Unable to open file!";
    case Check::line_too_long:
        return "Update data line too long";
    case Check::odd_hex:
        return "fwbforge2: Odd " + std::string(failure.subject);
    case Check::bad_hex:
        return "fwbforge2: Bad " + std::string(failure.subject);
    case Check::long_hex:
        return "fwbforge2: Long " + std::string(failure.subject);
    case Check::base_unopenable:
    case Check::base_is_stream:
        return "Input fwb not present";
    case Check::region_too_small:
        return "PHY and MAC BDP length Check";
    case Check::region_outside:
        return "Invalid BDP region in input fwb";
    case Check::output_is_base:
        return "Output fwb is the input fwb";
    default:
        return fails_the_write(failure.check) ? "Unable to write output fwb" : "";
    }
}

std::string forge_line(const Failure& failure, std::string_view outputPath) {
    const std::string words = forge_words(failure);
    switch (failure.check) {
    case Check::no_entry:
        return {};
    case Check::bad_identifier:
    case Check::odd_hex:
    case Check::bad_hex:
    case Check::long_hex:
        return words + "\n";
    case Check::region_too_small:
        return words + "\n "; // so it has always been printed
    case Check::output_is_base:
        return words + " " + std::string(outputPath) + "\n";
    default:
        break;
    }
    if (words.empty()) {
        return {};
    }
    return words + " " + (fails_the_write(failure.check) ? std::string(outputPath) : failure.path) +
           "\n";
}
