#pragma once

// What the conversion harnesses share: an input converted into a scratch file,
// which the writer reads back with the scanner before it would be put in place.
#include "fuzz/harness.h"
#include "provisioning_data/update_data_writer.h"

namespace fuzz {

// Whatever the writer took must read back as meant: the only failures are the
// input's own (65 or 69 before anything reads back), never value_unread or 67.
inline void convert_and_read_back(std::string_view input, decltype(&convert_xml) convert) {
    const std::string in = write_scratch_file("in", input);
    platform::File inFile;
    FUZZ_CHECK(!platform::open_for_reading(in, inFile).failed());
    // Open for reading and writing, as an image's temporary file is.
    static platform::Directory directory;
    if (directory.path().empty()) {
        FUZZ_CHECK(!directory.open(utf8_of(scratch())).failed());
    }
    platform::File outFile;
    std::string name;
    FUZZ_CHECK(!platform::create_uniquely_named_in(directory, "out", outFile, name).failed());
    const std::string out = utf8_of(scratch() / name);
    const struct Removal {
        std::filesystem::path path;
        ~Removal() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    } removal{scratch() / name};
    UpdateDataWriter writer(outFile, out);
    const Result<> converted = convert(inFile, in, writer);
    if (!converted) {
        const Failure& failure = converted.error();
        FUZZ_CHECK(failure.status == PROVKIT_ERR_MALFORMED || failure.status == PROVKIT_ERR_DATA);
        FUZZ_CHECK(failure.check != Check::value_unread);
        return;
    }
    const Result<> finished = writer.finish();
    FUZZ_CHECK(static_cast<bool>(finished));
}

} // namespace fuzz
