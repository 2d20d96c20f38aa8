#include "lib/tool_lines.h"

#include "common/board_data.h"
#include "common/hex.h"
#include "lib/failure_text.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/line_reader.h"
#include "provisioning_data/near_miss.h"

#include <array>
#include <cstdio>

namespace {

std::string stage_failure_line(std::string_view stage, Status status) {
    return "fwbforge2: " + std::string(stage) + "() returns " + std::to_string(status) + "\n";
}

std::string cannot_read(std::string_view path, std::string_view reason) {
    return "cannot read " + std::string(path) + ": " + std::string(reason);
}

} // namespace

std::string board_data_failure_text(bool entryFound, const Failure& failure) {
    std::string text = forge_line(failure, {});
    if (!entryFound) {
        text += stage_failure_line("get_xml_data", failure.status);
    }
    return text + stage_failure_line("readBdp", failure.status);
}

ToolLines provision_failure_lines(const Failure& failure, std::string_view outputPath) {
    return {forge_line(failure, outputPath) + stage_failure_line("provisionFile", failure.status),
            diagnostic_of(failure)};
}

ToolLines unreadable_image_lines(std::string_view path, const platform::Error& error) {
    return {"Unable to read fwb " + std::string(path) + "\n",
            cannot_read(path, error.failed() ? error.reason() : "not a regular file")};
}

ToolLines shortened_image_lines(std::string_view path) {
    return {"Unable to read fwb " + std::string(path) + "\n",
            cannot_read(path, "it ended before the length it had when opened")};
}

ToolLines unreadable_update_data_lines(std::string_view path, const platform::Error& error) {
    return {"Unable to open file! " + std::string(path) + "\n", cannot_read(path, error.reason())};
}

std::vector<std::string> missing_entry_diagnostics(std::string_view updateData, DeviceId id) {
    std::vector<std::string> lines = {"no entry for vid=" + hex16(id.vid) +
                                      " did=" + hex16(id.did) + " svid=" + hex16(id.svid) +
                                      " ssid=" + hex16(id.ssid) + " in " + std::string(updateData)};
    const std::optional<NearMiss> near = find_near_miss(updateData, id);
    if (near) {
        std::string differences;
        for (const std::string_view difference : near->differences) {
            differences.append(differences.empty() ? "" : ", ").append(difference);
        }
        lines.push_back("line " + std::to_string(near->line) +
                        " names the device in a form the lookup does not read (" + differences +
                        "); fwbdata normalize writes the form it reads");
    }
    return lines;
}

std::vector<std::string> message_lines(const ToolLines& lines, std::string_view program) {
    std::vector<std::string> messages;
    std::string_view rest = lines.printed;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        messages.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    if (!lines.diagnostic.empty()) {
        messages.push_back(std::string(program) + ": " + lines.diagnostic);
    }
    return messages;
}

std::string refusal_text(const Failure& failure) {
    const std::string quoted = " (" + forge_words(failure) + ")";
    const std::string blob(failure.subject == kMacBlobName ? kMacName : kPhyName);
    switch (failure.check) {
    case Check::line_too_long:
        return "a line of the update data is longer than " + std::to_string(kMaxLineLength >> 20) +
               " MiB, where fwbforge2 stops" + quoted;
    case Check::no_entry:
        return "no entry for the device in the update data";
    case Check::odd_hex:
        return "the " + blob + " text has an odd length" + quoted;
    case Check::bad_hex:
        return "the " + blob + " text holds a character that is not a hex digit" + quoted;
    case Check::long_hex:
        return "the " + blob + " text is longer than 1024 bytes" + quoted;
    case Check::base_unopenable:
        return "the base image " + c_quoted(failure.path) +
               " does not exist (fwbforge2: " + forge_words(failure) + ")";
    case Check::region_too_small:
        return "the base image's BDP region is too small for the board data (fwbforge2: " +
               forge_words(failure) + ")";
    case Check::region_outside:
        return "the base image's BDP region starts inside its header or ends past its end "
               "(fwbforge2: " +
               forge_words(failure) + ")";
    default:
        return {};
    }
}

std::string c_quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7f) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02x", unsigned{byte});
            out += escaped.data();
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::vector<RunFile> files_in_use(std::string_view updateDataPath) {
    std::vector<RunFile> files;
    if (const std::optional<platform::FileIdentity> updateData =
            platform::identity_of(updateDataPath)) {
        files.push_back({*updateData, "the update data"});
    }
    platform::FileInfo printed;
    if (!platform::info_of_standard_output(printed).failed() &&
        printed.identity != platform::FileIdentity{} &&
        platform::identity_of(platform::kNullDevice) != printed.identity) {
        files.push_back({printed.identity, "standard output"});
    }
    return files;
}
