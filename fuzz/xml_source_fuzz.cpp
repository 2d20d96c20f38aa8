// fwbdata normalize on arbitrary bytes: whatever it writes reads back with the
// scanner as the document meant it, and it fails only for the input's own faults.
#include "fuzz/conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::convert_and_read_back(fuzz::text_of(data, size), convert_xml);
    return 0;
}
