#include "app/json_document.h"

#include "app/output.h"
#include "common/status.h"

Json document_head(std::string_view kind) {
    Json json;
    json["schema_version"] = kSchemaVersion;
    json["kind"] = kind;
    json["tool"] = program_name();
    json["version"] = tool_version();
    return json;
}

Json usage_error_document(std::span<const std::string> messages) {
    Json json = document_head("usage_error");
    json["status"] = PROVKIT_ERR_USAGE;
    json["messages"] = messages;
    return json;
}
