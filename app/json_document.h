#pragma once

#include "app/json_text.h"

#include <span>
#include <string>
#include <string_view>

// The JSON contract both tools keep: snake_case keys in a fixed order, and
// every document opening with the members that say what it is.
inline constexpr int kSchemaVersion = 1;

// "schema_version", "kind" (which schema in docs/schemas the document follows),
// "tool" and "version", in that order.
Json document_head(std::string_view kind);

// A command line the tool could not take, as --json prints it: the head, status 1
// and the lines that say why.
Json usage_error_document(std::span<const std::string> messages);
