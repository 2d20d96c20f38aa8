#include "app/run_record.h"

#include "app/options.h"
#include "app/output.h"
#include "common/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace {

template <typename Value> Json or_null(const std::optional<Value>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json identifiers_into(Json json, const std::optional<DeviceId>& id) {
    json["vid"] = id ? Json(hex16(id->vid)) : Json(nullptr);
    json["did"] = id ? Json(hex16(id->did)) : Json(nullptr);
    json["svid"] = id ? Json(hex16(id->svid)) : Json(nullptr);
    json["ssid"] = id ? Json(hex16(id->ssid)) : Json(nullptr);
    return json;
}

} // namespace

Json digest_json(const std::optional<DigestValue>& digest) {
    return digest ? Json(to_hex(*digest)) : Json(nullptr);
}

std::string image_file_name(DeviceId id) {
    return hex16(id.vid) + "-" + hex16(id.did) + "-" + hex16(id.svid) + "-" + hex16(id.ssid) +
           ".fwb";
}

std::vector<std::string> printed_lines(std::string_view printed) {
    std::vector<std::string> lines;
    while (!printed.empty()) {
        const std::size_t end = printed.find('\n');
        lines.emplace_back(printed.substr(0, end));
        printed = end == std::string_view::npos ? std::string_view() : printed.substr(end + 1);
    }
    return lines;
}

Json run_json(const RunFacts& facts) {
    Json json;
    json["version"] = tool_version();
    json["status"] = facts.status;
    json["dry_run"] = facts.dryRun;
    json = identifiers_into(std::move(json), facts.id);
    json["update_data"] = {{"path", facts.updateDataPath},
                           {"sha256", digest_json(facts.updateDataDigest)}};
    json["image_name"] = or_null(facts.imageName);
    json["base"] = {{"path", or_null(facts.imageName)},
                    {"sha256", digest_json(facts.baseDigest)},
                    {"verified", or_null(facts.baseVerified)}};
    json["output"] = {{"path", facts.outputPath},
                      {"length", or_null(facts.outputLength)},
                      {"sha256", digest_json(facts.outputDigest)}};
    json["mac_length"] = or_null(facts.macLength);
    json["phy_length"] = or_null(facts.phyLength);
    json["exprom"] = or_null(facts.exprom);
    if (facts.status != PROVKIT_OK) {
        json["messages"] = printed_lines(facts.printed);
    }
    return json;
}
