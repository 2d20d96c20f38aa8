#pragma once

#include "app/json_text.h"
#include "app/manifest.h"
#include "app/output_directory.h"
#include "platform/platform.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kManifestName = "manifest.json";

// Where a batch's manifest goes, and what it must never replace: a file the run
// reads (what has the name itself, not what a link there leads to, which
// renaming leaves alone).
struct ManifestPlace {
    const OutputDirectory& output;
    std::function<bool(std::optional<platform::FileIdentity>)> namesAnInput;

    std::string path() const { return platform::joined_path(output.path(), kManifestName); }
};

// Through the same writer as the images; false, the reason on standard error,
// when it cannot be written.
bool write_manifest_file(const Manifest& manifest, const Json& head, const ManifestPlace& place);
// A dry run's check that it could be.
bool manifest_place_usable(const ManifestPlace& place);
// What a dry run would write last: its name and digest.
void print_manifest_would_be(const Manifest& manifest, const Json& head,
                             const ManifestPlace& place);
