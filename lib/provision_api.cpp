#include "image/expected_image.h"
#include "image/image_reading.h"
#include "lib/api_support.h"
#include "lib/failure_text.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"

#include <array>

namespace fwbforge2 {

namespace {

// The board-data stage, quiet: its failure as fwbforge2 reports it.
Result<BoardDataStage> board_data(DeviceId device, std::string_view updateData) {
    BoardDataStage stage = readBdp(updateData, internal_id(device));
    if (stage.failure.failed()) {
        std::vector<std::string> messages = message_lines(
            {board_data_failure_text(stage.entry.has_value(), stage.failure), {}}, kForgeProgram);
        if (stage.failure.check == Check::no_entry) {
            for (const std::string& line :
                 missing_entry_diagnostics(updateData, internal_id(device))) {
                messages.push_back(std::string(kForgeProgram) + ": " + line);
            }
        }
        return Error{stage.failure.status, std::move(messages)};
    }
    return stage;
}

Error provision_error(const Failure& failure, std::string_view outputPath) {
    return error_of(failure.status, provision_failure_lines(failure, outputPath), kForgeProgram);
}

// Lays the image's bytes out in memory as the writer writes them to a file.
Result<std::uint64_t> laid_out(const ExpectedImage& expected, std::string_view basePath,
                               const std::function<std::uint8_t*(std::uint64_t)>& allocate) {
    const BaseImage& base = *expected.base;
    std::uint8_t* const start = allocate(base.length);
    if (start == nullptr) {
        return provision_error(failure_of(PROVKIT_ERR_FILE, Check::output_unwritten, "memory"), {});
    }
    const std::span<std::uint8_t> image(start, static_cast<std::size_t>(base.length));
    for (const OutputStretch& stretch : output_stretches(expected.parts, base.length)) {
        const std::span<std::uint8_t> into = image.subspan(
            static_cast<std::size_t>(stretch.offset), static_cast<std::size_t>(stretch.length));
        if (stretch.source == OutputStretch::Source::zeros) {
            std::fill(into.begin(), into.end(), std::uint8_t{0});
        } else if (stretch.source == OutputStretch::Source::parts) {
            std::copy(stretch.bytes.begin(), stretch.bytes.end(), into.begin());
        } else {
            std::size_t got = 0;
            const platform::Error error =
                platform::read_fully_at(base.file, stretch.offset, into, got);
            if (error.failed() || got < into.size()) {
                return provision_error(
                    failure_of(PROVKIT_ERR_FILE, Check::base_unread, basePath, error), {});
            }
        }
    }
    return base.length;
}

} // namespace

Result<DeviceId> parse_device_id(std::string_view vid, std::string_view did, std::string_view svid,
                                 std::string_view ssid) {
    const std::array<std::string, 4> given{std::string(vid), std::string(did), std::string(svid),
                                           std::string(ssid)};
    const ::Result<::DeviceId> id = ::parse_device_id(given);
    if (!id) {
        return Error{id.error().status,
                     message_lines({forge_line(id.error(), {}), {}}, kForgeProgram)};
    }
    return public_id(*id);
}

Result<std::uint64_t> provision(DeviceId device, std::string_view updateData,
                                const std::function<std::uint8_t*(std::uint64_t)>& allocate) {
    const Result<BoardDataStage> stage = board_data(device, updateData);
    if (!stage) {
        return stage.error();
    }
    const std::string& basePath = stage->entry->imageName;
    const ::Result<ExpectedImage> expected = expected_image(stage->boardData, basePath);
    if (!expected) {
        return provision_error(expected.error(), {});
    }
    if (expected->refusal.failed()) {
        return provision_error(expected->refusal, {});
    }
    return laid_out(*expected, basePath, allocate);
}

Result<std::vector<std::uint8_t>> provision(DeviceId device, std::string_view updateData) {
    std::vector<std::uint8_t> image;
    const Result<std::uint64_t> laid = provision(device, updateData, [&](std::uint64_t length) {
        image.resize(static_cast<std::size_t>(length));
        return image.data();
    });
    if (!laid) {
        return laid.error();
    }
    return image;
}

Result<Written> provision_to(DeviceId device, std::string_view updateData,
                             std::string_view output) {
    const Result<BoardDataStage> stage = board_data(device, updateData);
    if (!stage) {
        return stage.error();
    }
    const std::vector<RunFile> others = files_in_use(updateData);
    BaseImages bases;
    ProvisionOptions options;
    options.digests = true;
    options.otherFiles = others;
    const ProvisionOutcome outcome =
        provisionFile(stage->boardData, stage->entry->imageName, output, bases, options);
    if (outcome.failure.failed()) {
        return provision_error(outcome.failure, output);
    }
    Written written;
    written.length = outcome.outputLength;
    if (outcome.outputDigest) {
        written.sha256 = *outcome.outputDigest;
    }
    return written;
}

Result<Entry> find_entry(std::string_view updateData, DeviceId device) {
    const Result<BoardDataStage> stage = board_data(device, updateData);
    if (!stage) {
        return stage.error();
    }
    const BoardData& board = stage->boardData;
    Entry entry;
    entry.mac.assign(board.macBdp.begin(), board.macBdp.begin() + board.macBdpLen);
    entry.phy.assign(board.phyBdp.begin(), board.phyBdp.begin() + board.phyBdpLen);
    entry.exprom = stage->entry->exprom;
    entry.image_name = stage->entry->imageName;
    entry.key_line = stage->entry->keyLine;
    return entry;
}

} // namespace fwbforge2
