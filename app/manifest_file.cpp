#include "app/manifest_file.h"

#include "app/output.h"
#include "common/hex.h"
#include "image/calc_hash.h"
#include "image/output_file.h"
#include "lib/failure_text.h"

namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

bool write_manifest_file(const Manifest& manifest, const Json& head, const ManifestPlace& place) {
    OutputFile output;
    if (Result<> opened = output.open_in(place.output.directory(), kManifestName); !opened) {
        print_diagnostic(diagnostic_of(opened.error()));
        return false;
    }
    if (place.namesAnInput(output.existing())) {
        print_diagnostic(place.path() + " is a file the run reads");
        return false;
    }
    std::uint64_t offset = 0;
    platform::Error error;
    const bool written = manifest.write(head, [&](std::string_view text) {
        error = platform::write_all_at(output.file(), offset, bytes_of(text));
        offset += text.size();
        return !error.failed();
    });
    if (!written) {
        print_diagnostic("cannot write " + place.path() + ": " + error.reason());
        return false;
    }
    Result<> committed = output.commit();
    if (!committed) {
        print_diagnostic(diagnostic_of(committed.error()));
    }
    return static_cast<bool>(committed);
}

bool manifest_place_usable(const ManifestPlace& place) {
    if (!place.output.is_open()) {
        return true;
    }
    platform::FileInfo info;
    if (!platform::info_of_entry(place.output.directory(), kManifestName, info).failed() &&
        place.namesAnInput(info.identity)) {
        print_diagnostic(place.path() + " is a file the run reads");
        return false;
    }
    Result<> checked = OutputFile::check_in(place.output.directory(), kManifestName);
    if (!checked) {
        print_diagnostic(diagnostic_of(checked.error()));
    }
    return static_cast<bool>(checked);
}

void print_manifest_would_be(const Manifest& manifest, const Json& head,
                             const ManifestPlace& place) {
    HashStream hash;
    (void)manifest.write(head, [&](std::string_view text) {
        hash.add(bytes_of(text));
        return true;
    });
    const Result<DigestValue> digest = hash.finish();
    print_line("Dry run: would write ", place.path());
    print_line("sha256        :", digest ? to_hex(*digest) : std::string());
}
