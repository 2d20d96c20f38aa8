// string_to_databuff on arbitrary text: accepts exactly the even runs of hex
// digits that fit, decodes them so that they encode back, and writes nothing otherwise.
#include "common/hex.h"
#include "fuzz/harness.h"
#include "provisioning_data/board_data_stage.h"
#include "provisioning_data/device_key.h"

#include <algorithm>
#include <array>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::text_of(data, size);
    std::array<std::uint8_t, kBlobCapacity> destination{};
    destination.fill(0x5a);
    const Result<> decoded = string_to_databuff(text, destination);
    const Status status = decoded ? PROVKIT_OK : decoded.error().status;
    const bool hex = std::all_of(text.begin(), text.end(),
                                 [](char c) { return hex_digit_value(c).has_value(); });
    const bool accepted = text.size() % 2 == 0 && hex && text.size() <= 2 * kBlobCapacity;
    FUZZ_CHECK((status == PROVKIT_OK) == accepted);
    if (accepted) {
        FUZZ_CHECK(to_hex(std::span(destination).first(text.size() / 2)) == lowercase_ascii(text));
    } else {
        FUZZ_CHECK(std::all_of(destination.begin(), destination.end(),
                               [](std::uint8_t b) { return b == 0x5a; }));
        FUZZ_CHECK(status == (text.size() % 2 ? PROVKIT_ERR_ODD_HEX
                              : hex           ? PROVKIT_ERR_DATA
                                              : PROVKIT_ERR_BAD_HEX));
    }
    return 0;
}
