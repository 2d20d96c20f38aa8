#include "app/command_line.h"

#include "app/json_document.h"
#include "app/output.h"
#include "common/status.h"

#include <algorithm>

namespace {

const OptionSpec* find_option(std::span<const OptionSpec> options, std::string_view word) {
    const auto found = std::find_if(options.begin(), options.end(), [&](const OptionSpec& option) {
        return word == option.name || (!option.shortName.empty() && word == option.shortName);
    });
    return found == options.end() ? nullptr : &*found;
}

bool is_option_word(std::span<const OptionSpec> options, std::string_view word) {
    return word.starts_with("--") || find_option(options, word) != nullptr;
}

// The words an option at arguments[i] takes: the next ones that are no option,
// up to "--"; those it takes are marked used.
std::vector<std::string> take_values(std::span<const std::string> arguments, std::size_t i,
                                     std::size_t count, std::span<const OptionSpec> options,
                                     std::vector<bool>& used) {
    std::vector<std::string> values;
    for (std::size_t j = i + 1; j < arguments.size() && values.size() < count; ++j) {
        if (arguments[j] == "--") {
            break;
        }
        if (!used[j] && !is_option_word(options, arguments[j])) {
            used[j] = true;
            values.push_back(arguments[j]);
        }
    }
    return values;
}

std::string needs_values(std::string_view word, std::size_t count) {
    return "option " + std::string(word) + " needs " +
           (count == 1 ? std::string("a value") : std::to_string(count) + " values");
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

int refuse_command_line(std::string_view refusal, std::string_view usage, bool json) {
    if (!refusal.empty()) {
        print_diagnostic(refusal);
    }
    if (!json) {
        print_text(usage);
        return PROVKIT_ERR_USAGE;
    }
    std::vector<std::string> messages;
    if (!refusal.empty()) {
        messages.push_back(std::string(program_name()) + ": " + std::string(refusal));
    }
    for (std::string& line : printed_lines(usage)) {
        messages.push_back(std::move(line));
    }
    print_text(json_document(usage_error_document(messages)));
    return PROVKIT_ERR_USAGE;
}

ParsedArguments parse_arguments(std::span<const std::string> arguments,
                                std::span<const OptionSpec> options) {
    ParsedArguments parsed;
    std::vector<bool> used(arguments.size(), false);
    const auto refuse = [&](std::string refusal) {
        if (parsed.refusal.empty()) {
            parsed.refusal = std::move(refusal);
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (used[i]) {
            continue;
        }
        if (optionsEnded || !is_option_word(options, word)) {
            parsed.positional.emplace_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        parsed.asksForJson = parsed.asksForJson || word == "--json";
        const OptionSpec* option = find_option(options, word);
        if (option == nullptr) {
            refuse("unknown option " + std::string(word));
            continue;
        }
        std::vector<std::string> values =
            take_values(arguments, i, option->valueCount, options, used);
        if (values.size() < option->valueCount) {
            refuse(needs_values(word, option->valueCount));
        } else if (!parsed.options.try_emplace(option->name, std::move(values)).second &&
                   option->valueCount > 0) {
            refuse("option " + std::string(word) + " is given twice");
        }
    }
    return parsed;
}
