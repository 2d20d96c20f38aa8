// A station program built against the installed library alone.
#include <cstdio>
#include <fwbforge2/fwbforge2.h>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer UPDATE_DATA EXPECTED_VERSION\n");
        return 2;
    }
    if (fwbforge2::version() != argv[2]) {
        std::fprintf(stderr, "consumer: version %s\n", std::string(fwbforge2::version()).c_str());
        return 1;
    }
    const fwbforge2::Result<fwbforge2::DeviceId> device =
        fwbforge2::parse_device_id("fb2f", "0a01", "fb2f", "0001");
    const auto image = fwbforge2::provision(*device, argv[1]);
    if (!image) {
        for (const std::string& line : image.error().messages) {
            std::fprintf(stderr, "consumer: %s\n", line.c_str());
        }
        return image.error().status;
    }
    const auto missing = fwbforge2::provision({0xfb2f, 0xffff, 0, 0}, argv[1]);
    std::printf("%zu bytes; missing device: %d\n", image->size(),
                missing ? 0 : missing.error().status);
    return 0;
}
