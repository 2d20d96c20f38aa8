#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

// The members every document opens with, in the order it printed them:
// schema_version, kind, tool and version, each as text.
inline std::vector<std::string> head_of(std::string_view text) {
    const nlohmann::ordered_json document = nlohmann::ordered_json::parse(text);
    std::vector<std::string> head;
    for (auto member = document.begin(); member != document.end() && head.size() < 4; ++member) {
        head.push_back(member->is_string() ? member->get<std::string>() : member->dump());
    }
    return head;
}
