#include "app/json_document.h"

#include "app/output.h"
#include "common/hex.h"
#include "common/status.h"

Json document_head(std::string_view kind) {
    Json json;
    json["schema_version"] = kSchemaVersion;
    json["kind"] = kind;
    json["tool"] = program_name();
    json["version"] = tool_version();
    return json;
}

void put_identifiers(Json& json, const std::optional<DeviceId>& id) {
    json["vid"] = id ? Json(hex16(id->vid)) : Json(nullptr);
    json["did"] = id ? Json(hex16(id->did)) : Json(nullptr);
    json["svid"] = id ? Json(hex16(id->svid)) : Json(nullptr);
    json["ssid"] = id ? Json(hex16(id->ssid)) : Json(nullptr);
}

Json identifiers_json(DeviceId id) {
    Json json;
    put_identifiers(json, id);
    return json;
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

Json failure_document(std::string_view kind, int status, std::string_view printed) {
    Json json = document_head(kind);
    json["status"] = status;
    json["messages"] = printed_lines(printed);
    return json;
}

Json usage_error_document(std::span<const std::string> messages) {
    Json json = document_head("usage_error");
    json["status"] = PROVKIT_ERR_USAGE;
    json["messages"] = messages;
    return json;
}
