#include "app/command_line.h"

#include <algorithm>

namespace {

bool names_short_options(std::span<const OptionSpec> options) {
    return std::any_of(options.begin(), options.end(),
                       [](const OptionSpec& option) { return !option.shortName.empty(); });
}

bool is_option_word(std::string_view word, bool shortOptions) {
    return word.starts_with("--") || (shortOptions && word.size() > 1 && word.starts_with('-'));
}

const OptionSpec* find_option(std::span<const OptionSpec> options, std::string_view word) {
    const auto found = std::find_if(options.begin(), options.end(), [&](const OptionSpec& option) {
        return word == option.name || (!option.shortName.empty() && word == option.shortName);
    });
    return found == options.end() ? nullptr : &*found;
}

} // namespace

std::optional<std::vector<std::string>> ParsedArguments::values_of(std::string_view name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::string> ParsedArguments::value_of(std::string_view name) const {
    const auto found = options.find(name);
    if (found == options.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second.front();
}

std::optional<ParsedArguments> parse_arguments(std::span<const std::string> arguments,
                                               std::span<const OptionSpec> options) {
    const bool shortOptions = names_short_options(options);
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (optionsEnded || !is_option_word(word, shortOptions)) {
            parsed.positional.emplace_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* option = find_option(options, word);
        if (option == nullptr || arguments.size() - i - 1 < option->valueCount) {
            return std::nullopt;
        }
        const auto first = arguments.begin() + static_cast<std::ptrdiff_t>(i + 1);
        const auto last = first + static_cast<std::ptrdiff_t>(option->valueCount);
        if (std::any_of(first, last,
                        [](const std::string& value) { return value.starts_with("--"); })) {
            return std::nullopt;
        }
        const auto [taken, isNew] = parsed.options.try_emplace(option->name, first, last);
        if (!isNew && option->valueCount > 0) {
            return std::nullopt;
        }
        i += option->valueCount;
    }
    return parsed;
}
