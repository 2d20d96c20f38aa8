#include "image/expected_image.h"

Result<ExpectedImage> expected_image(const BoardData& boardData, std::string_view basePath) {
    Result<std::shared_ptr<BaseImage>> base = open_base_image(basePath);
    if (!base) {
        return base.error();
    }
    ExpectedImage expected;
    expected.base = *base;
    switch (
        provision_parts(boardData, expected.base->header, expected.base->length, expected.parts)) {
    case RegionFit::too_small:
        expected.refusal = failure_of(PROVKIT_ERR_DATA, Check::region_too_small, basePath);
        break;
    case RegionFit::outside_image:
        expected.refusal = failure_of(PROVKIT_ERR_DATA, Check::region_outside, basePath);
        break;
    case RegionFit::fits:
        break;
    }
    return expected;
}
