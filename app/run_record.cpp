#include "app/run_record.h"

#include "app/json_document.h"
#include "app/options.h"
#include "app/output.h"
#include "app/selection.h"
#include "common/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace {

template <typename Value> Json or_null(const std::optional<Value>& value) {
    return value ? Json(*value) : Json(nullptr);
}

} // namespace

Json digest_json(const std::optional<DigestValue>& digest) {
    return digest ? Json(to_hex(*digest)) : Json(nullptr);
}

std::string image_file_name(DeviceId id) {
    return device_name(id) + ".fwb";
}

RunStamp stamp_now() {
    return {platform::utc_time_now(), platform::host_name(), platform::user_name()};
}

Json run_json(const RunFacts& facts, const RunStamp* stamp) {
    Json json = document_head("run");
    if (stamp != nullptr) {
        json["time"] = stamp->time;
        json["host"] = stamp->host;
        json["user"] = stamp->user;
    }
    json["status"] = facts.status;
    json["dry_run"] = facts.dryRun;
    put_identifiers(json, facts.id);
    json["update_data"] = {{"path", facts.updateDataPath},
                           {"sha256", digest_json(facts.updateDataDigest)}};
    json["image_name"] = or_null(facts.imageName);
    json["base"] = {{"path", or_null(facts.basePath)},
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
