#include "provisioning_data/near_miss.h"

#include "provisioning_data/device_key.h"
#include "provisioning_data/line_reader.h"
#include "provisioning_data/update_data_writer.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kElementStart = "<pciid";
// In the key line's order.
constexpr std::array<std::string_view, 4> kKeyOrder = {"vid", "did", "sdid", "svid"};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// What one pass over an element's text gathers.
struct Element {
    std::array<std::string_view, 4> names;  // as written, in the order written
    std::array<std::string_view, 4> values; // by kKeyOrder
    std::size_t count = 0;
    bool singleQuotes = false;
    bool oddSpacing = false;
    bool noBlankBeforeEnd = false;
    bool capitals = false;
};

std::size_t skip_blanks(std::string_view text, std::size_t at, bool& odd) {
    const std::size_t from = at;
    while (at < text.size() && is_blank(text[at])) {
        ++at;
    }
    odd = odd || at - from != 1 || text[from] != ' ';
    return at;
}

// One attribute at at: its name, "=", a quoted value; npos when there is none.
std::size_t take_attribute(std::string_view text, std::size_t at, Element& element) {
    const std::size_t nameEnd = text.find_first_of("= \t\r\n", at);
    if (nameEnd == std::string_view::npos || nameEnd == at || element.count == 4) {
        return std::string_view::npos;
    }
    const std::string_view name = text.substr(at, nameEnd - at);
    bool aroundEquals = false;
    std::size_t next = nameEnd;
    while (next < text.size() && is_blank(text[next])) {
        aroundEquals = true;
        ++next;
    }
    if (next >= text.size() || text[next] != '=') {
        return std::string_view::npos;
    }
    ++next;
    while (next < text.size() && is_blank(text[next])) {
        aroundEquals = true;
        ++next;
    }
    if (next >= text.size() || (text[next] != '"' && text[next] != '\'')) {
        return std::string_view::npos;
    }
    const char quote = text[next];
    const std::size_t close = text.find(quote, next + 1);
    if (close == std::string_view::npos) {
        return std::string_view::npos;
    }
    const std::string lowered = lowercase_ascii(name);
    const auto known = std::find(kKeyOrder.begin(), kKeyOrder.end(), lowered);
    if (known == kKeyOrder.end()) {
        return std::string_view::npos;
    }
    element.values[static_cast<std::size_t>(known - kKeyOrder.begin())] =
        text.substr(next + 1, close - next - 1);
    element.names[element.count++] = *known;
    element.capitals = element.capitals || lowered != name;
    element.singleQuotes = element.singleQuotes || quote == '\'';
    element.oddSpacing = element.oddSpacing || aroundEquals;
    return close + 1;
}

std::optional<Element> parse_element(std::string_view text) {
    Element element;
    element.capitals = text.substr(0, kElementStart.size()) != kElementStart;
    std::size_t at = kElementStart.size();
    while (at < text.size() && is_blank(text[at])) {
        const std::size_t attribute = skip_blanks(text, at, element.oddSpacing);
        const std::size_t next = take_attribute(text, attribute, element);
        if (next == std::string_view::npos) {
            // Past the last attribute: the element's end, with its own blanks.
            element.noBlankBeforeEnd = attribute == at;
            at = attribute;
            break;
        }
        at = next;
    }
    if (at < text.size() && text[at] == '/' && at + 1 < text.size() && text[at + 1] == '>') {
        element.noBlankBeforeEnd = element.noBlankBeforeEnd || !is_blank(text[at - 1]);
    } else if (at < text.size() && text[at] == '>') {
        element.noBlankBeforeEnd = true;
    } else {
        return std::nullopt;
    }
    return element;
}

} // namespace

std::optional<std::vector<std::string_view>> near_miss_differences(std::string_view element,
                                                                   DeviceId id) {
    const std::optional<Element> parsed = parse_element(element);
    if (!parsed || parsed->count != 4) {
        return std::nullopt;
    }
    const std::array<std::uint16_t, 4> meant = {id.vid, id.did, id.ssid, id.svid};
    bool digitCount = false;
    for (std::size_t k = 0; k < meant.size(); ++k) {
        if (written_identifier(parsed->values[k]) != meant[k]) {
            return std::nullopt;
        }
        digitCount = digitCount || parsed->values[k].size() != 4;
    }
    std::vector<std::string_view> differences;
    const auto note = [&differences](bool differs, std::string_view what) {
        if (differs) {
            differences.push_back(what);
        }
    };
    note(parsed->names != kKeyOrder, "attribute order");
    note(parsed->singleQuotes, "quotes");
    note(parsed->noBlankBeforeEnd, "the blank before \"/>\"");
    note(parsed->oddSpacing, "spacing");
    note(parsed->capitals, "the case of a name");
    note(digitCount, "the number of digits");
    return differences;
}

std::optional<NearMiss> find_near_miss(std::string_view path, DeviceId id) {
    platform::File file;
    if (platform::open_for_reading(path, file).failed()) {
        return std::nullopt;
    }
    LineReader reader(file);
    std::string_view line;
    for (std::size_t number = 1; reader.next_view(line); ++number) {
        const std::string lowered = lowercase_ascii(line);
        for (std::size_t at = lowered.find(kElementStart); at != std::string::npos;
             at = lowered.find(kElementStart, at + 1)) {
            std::optional<std::vector<std::string_view>> differences =
                near_miss_differences(line.substr(at), id);
            if (differences && !differences->empty()) {
                return NearMiss{number, std::move(*differences)};
            }
        }
    }
    return std::nullopt;
}
