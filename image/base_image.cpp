#include "image/base_image.h"

#include "image/image_reading.h"
#include "image/layout.h"

#include <array>

using namespace layout;

Result<std::shared_ptr<BaseImage>> open_base_image(std::string_view path) {
    OpenedImage opened;
    platform::Error error;
    if (!open_image(path, ImageKinds::devices_too, opened, error)) {
        const bool stream = !error.failed() && opened.info.kind == platform::FileKind::stream;
        return failure_of(PROVKIT_ERR_FILE, stream ? Check::base_is_stream : Check::base_unopenable,
                          path, error);
    }
    auto base = std::make_shared<BaseImage>();
    base->file = std::move(opened.file);
    base->identity = opened.info.identity;
    base->length = opened.length;
    // A short base leaves the rest of the header zero; a failed read is no short
    // file (a directory may open, but does not read).
    std::size_t got = 0;
    if (const platform::Error read = platform::read_fully_at(base->file, 0, base->header, got);
        read.failed()) {
        return failure_of(PROVKIT_ERR_FILE, Check::base_unopenable, path, read);
    }
    base->unsealed = chain_differences(base->file, base->header);
    return base;
}

std::optional<std::vector<std::string_view>> chain_differences(const platform::File& file,
                                                               const ImageHeader& header) {
    std::array<std::uint8_t, kBdpTableSize> table{};
    std::size_t got = 0;
    if (platform::read_fully_at(file, placement_of(header).bdpOffset, table, got).failed() ||
        got != table.size()) {
        return std::nullopt;
    }
    return unsealed_digests(header, table);
}

Result<DigestValue> base_digest(BaseImage& base) {
    if (!base.digest) {
        Result<DigestValue> digest = file_sha256(base.file, base.length);
        if (!digest) {
            return digest;
        }
        base.digest = *digest;
    }
    return *base.digest;
}

Result<std::shared_ptr<BaseImage>> BaseImages::open(std::string_view path) {
    if (const auto found = opened_.find(path); found != opened_.end()) {
        return found->second;
    }
    if (opened_.size() >= kept_) {
        opened_.clear();
    }
    Result<std::shared_ptr<BaseImage>> base = open_base_image(path);
    if (base) {
        opened_.emplace(std::string(path), *base);
    }
    return base;
}
