// fwbdata normalize IN OUT | from-csv CSV OUT | to-csv UPDATEDATA [OUT] | to-json UPDATEDATA
// Update data from XML of any writer or a table, and every device back out of it.
#include "app/command_line.h"
#include "app/fwbdata_text.h"
#include "app/json_document.h"
#include "app/output.h"
#include "common/hex.h"
#include "common/status.h"
#include "image/output_file.h"
#include "platform/platform.h"
#include "provisioning_data/csv_reader.h"
#include "provisioning_data/update_data_check.h"
#include "provisioning_data/update_data_writer.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kUsage = "Usage: fwbdata normalize IN.xml OUT.xml\n"
                                    "       fwbdata from-csv IN.csv OUT.xml\n"
                                    "       fwbdata to-csv UPDATEDATA [OUT.csv]\n"
                                    "       fwbdata to-json UPDATEDATA\n";
constexpr std::array kOptions = {flag("--help", "-h"), flag("--version")};
constexpr std::string_view kCsvHeader = "vid,did,svid,ssid,mac,phy,exprom,image\r\n";
constexpr std::size_t kFlushAt = 64 * 1024;

using Converter = Result<> (*)(const platform::File&, std::string_view, UpdateDataWriter&);

int fail(const Failure& failure, std::string_view input, std::string_view output = {}) {
    print_diagnostic(data_diagnostic(failure, input, output));
    return failure.status;
}

// Written to a temporary file beside OUT, read back, then put in place.
int write_update_data(const std::string& inPath, const std::string& outPath, Converter convert) {
    platform::File in;
    if (const platform::Error error = platform::open_for_reading(inPath, in); error.failed()) {
        return fail(failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, inPath, error),
                    inPath);
    }
    OutputFile out;
    if (Result<> opened = out.open(outPath); !opened) {
        return fail(opened.error(), inPath, outPath);
    }
    if (out.streams()) {
        print_diagnostic("cannot write " + outPath +
                         ": not a regular file, which is read back before it takes the name");
        return PROVKIT_ERR_FILE;
    }
    UpdateDataWriter writer(out.file(), outPath);
    Result<> done = convert(in, inPath, writer);
    if (done) {
        done = writer.finish();
    }
    if (done) {
        done = out.commit();
    }
    if (!done) {
        return fail(done.error(), inPath, outPath);
    }
    print_text("Wrote " + std::to_string(writer.devices()) + " devices to " + outPath + "\n");
    return PROVKIT_OK;
}

void append_csv_row(std::string& text, const ListedDevice& device, const EntryValues& values) {
    for (const std::uint16_t id : {device.id.vid, device.id.did, device.id.svid, device.id.ssid}) {
        text.append(hex16(id)).push_back(',');
    }
    append_csv_field(text, values.macText);
    text.push_back(',');
    append_csv_field(text, values.phyText);
    text.append(values.exprom == 0 ? ",False," : ",True,");
    append_csv_field(text, values.imageName);
    text.append("\r\n");
}

std::string device_json(const ListedDevice& device, const EntryValues& values) {
    Json json;
    put_identifiers(json, device.id);
    json["line"] = device.keyLine;
    json["mac"] = values.macText;
    json["phy"] = values.phyText;
    json["exprom"] = values.exprom != 0;
    json["image"] = values.imageName;
    return json_indented(json);
}

// Every device as fwbforge2 finds it, in file order, each put into text by
// put_device; write takes text whenever it has grown.
template <typename PutDevice, typename Write>
Result<> list_devices(const std::string& path, PutDevice put_device, Write write,
                      std::string& text) {
    UpdateDataCheck check;
    UpdateDataReading reading(check, {.keepValues = true});
    if (Result<> opened = reading.open(path); !opened) {
        return opened;
    }
    const auto drain = [&] {
        for (; !check.devices.empty(); check.devices.pop_front(), check.values.pop_front()) {
            put_device(text, check.devices.front(), *check.values.front());
        }
        return text.size() < kFlushAt ? Result<>{} : write(text);
    };
    for (bool more = true; more;) {
        more = reading.read_some();
        if (Result<> written = drain(); !written) {
            return written;
        }
    }
    if (Result<> finished = reading.finish(); !finished) {
        return finished;
    }
    if (Result<> written = drain(); !written) {
        return written;
    }
    return write(text);
}

Result<> print_and_clear(std::string& text) {
    print_text(text);
    text.clear();
    return {};
}

int to_csv(const std::string& path, const std::optional<std::string>& outPath) {
    std::string text(kCsvHeader);
    if (!outPath) {
        const Result<> listed = list_devices(path, append_csv_row, print_and_clear, text);
        return listed ? PROVKIT_OK : fail(listed.error(), path);
    }
    OutputFile out;
    Result<> done = out.open(*outPath);
    const auto write = [&](std::string& bytes) -> Result<> {
        const std::span data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        if (const platform::Error error = platform::write_all(out.file(), data); error.failed()) {
            return failure_of(PROVKIT_ERR_FILE, Check::output_unwritten, *outPath, error);
        }
        bytes.clear();
        return {};
    };
    if (done) {
        done = list_devices(path, append_csv_row, write, text);
    }
    if (done) {
        done = out.commit();
    }
    return done ? PROVKIT_OK : fail(done.error(), path, *outPath);
}

// One document, printed as it grows: the head, then each device into its array.
int to_json(const std::string& path) {
    Json head = document_head("update_data_devices");
    head["update_data"] = {{"path", path}};
    head["devices"] = Json::array();
    const std::string whole = json_indented(head);
    const std::size_t array = whole.rfind("[]");
    std::string text = whole.substr(0, array + 1);
    bool first = true;
    const auto put_device = [&first](std::string& out, const ListedDevice& device,
                                     const EntryValues& values) {
        out.append(first ? "\n    " : ",\n    ");
        first = false;
        for (const char c : device_json(device, values)) {
            out.push_back(c);
            if (c == '\n') {
                out.append("    ");
            }
        }
    };
    const Result<> listed = list_devices(path, put_device, print_and_clear, text);
    if (!listed) {
        return fail(listed.error(), path);
    }
    print_text((first ? "" : "\n  ") + whole.substr(array + 1) + "\n");
    return PROVKIT_OK;
}

int run(const std::vector<std::string>& words) {
    const std::string& command = words.front();
    if (command == "normalize" && words.size() == 3) {
        return write_update_data(words[1], words[2], convert_xml);
    }
    if (command == "from-csv" && words.size() == 3) {
        return write_update_data(words[1], words[2], convert_csv);
    }
    if (command == "to-csv" && (words.size() == 2 || words.size() == 3)) {
        return to_csv(words[1], words.size() == 3 ? std::optional(words[2]) : std::nullopt);
    }
    if (command == "to-json" && words.size() == 2) {
        return to_json(words[1]);
    }
    return refuse_command_line({}, kUsage, false);
}

} // namespace

int main(int argc, char** argv) {
    platform::fill_closed_standard_streams();
    platform::use_binary_standard_streams();
    platform::keep_running_on_broken_pipes_and_size_limits();
    set_program_name("fwbdata");
    const std::vector<std::string> arguments = platform::command_line_arguments(argc, argv);
    const ParsedArguments parsed = parse_arguments(std::span(arguments).subspan(1), kOptions);
    if (!parsed.refusal.empty()) {
        return refuse_command_line(parsed.refusal, kUsage, false);
    }
    if (parsed.has("--help") || parsed.has("--version")) {
        print_text(parsed.has("--help") ? std::string(kUsage) : version_text());
        return PROVKIT_OK;
    }
    if (parsed.positional.empty()) {
        return refuse_command_line({}, kUsage, false);
    }
    return run(parsed.positional);
}
