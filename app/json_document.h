#pragma once

#include "app/json_text.h"
#include "common/device_id.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The JSON contract both tools keep: snake_case keys in a fixed order, and
// every document opening with the members that say what it is.
inline constexpr int kSchemaVersion = 1;

// "schema_version", "kind" (which schema in docs/schemas the document follows),
// "tool" and "version", in that order.
Json document_head(std::string_view kind);

// A device's four identifiers as members of json: four hex digits each, or null.
void put_identifiers(Json& json, const std::optional<DeviceId>& id);
Json identifiers_json(DeviceId id);

// The lines a run printed, each without its line feed, for a document's "messages".
std::vector<std::string> printed_lines(std::string_view printed);

// A run that failed before it had its report: the head, the status and the
// lines it printed, as "messages".
Json failure_document(std::string_view kind, int status, std::string_view printed);

// A command line the tool could not take, as --json prints it: the head, status 1
// and the lines that say why.
Json usage_error_document(std::span<const std::string> messages);
