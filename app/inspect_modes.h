#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// fwbinspect's modes: each reads its files, prints its report and gives the
// exit status.

int inspect_images(const std::vector<std::string>& paths, bool blobs, bool json);

struct ExpectRequest {
    std::string image;
    std::array<std::string, 4> identifiers; // VID DID SVID SSID, as given
    std::string updateData;
    std::optional<std::string> base;
    bool json = false;
    std::optional<std::string> baseDir; // where a relative image name in the entry is taken from
};

int expect_image(const ExpectRequest& request);

int diff_images(std::string_view a, std::string_view b, bool json);

int extract_blobs(std::string_view image, std::string_view directory);

int check_update_data_file(std::string_view path, bool json);
