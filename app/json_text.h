#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

using Json = nlohmann::ordered_json;

// JSON as both programs print it. Names and lines are bytes, not always UTF-8:
// what is not shows as U+FFFD rather than failing the dump.

// Indented by 2, with no closing line feed.
template <typename JsonValue> std::string json_indented(const JsonValue& json) {
    return json.dump(2, ' ', false, JsonValue::error_handler_t::replace);
}

// A whole document, as --json prints it: indented, with a closing line feed.
template <typename JsonValue> std::string json_document(const JsonValue& json) {
    return json_indented(json) + "\n";
}

// On one line, with no line feed.
template <typename JsonValue> std::string json_compact(const JsonValue& json) {
    return json.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

// One line of JSON Lines.
template <typename JsonValue> std::string json_line(const JsonValue& json) {
    return json_compact(json) + "\n";
}

// A text as a JSON string, quotes included.
inline std::string json_quoted(std::string_view text) {
    return json_compact(nlohmann::json(std::string(text)));
}

// A document printed a piece at a time, as nlohmann indents it whole: the head's
// members, then the key of the array that follows, its "[" open.
inline std::string json_opening(const Json& head, std::string_view arrayKey) {
    std::string text = json_indented(head);
    text.resize(text.size() - 2); // the closing "\n}"
    return text + ",\n  " + json_quoted(arrayKey) + ": [";
}

// The members after the array, once it is closed, and the document's end.
inline std::string json_closing(const Json& tail) {
    return ",\n" + json_indented(tail).substr(2) + "\n"; // past tail's "{\n"
}
