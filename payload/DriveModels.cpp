#include "payload/DriveModels.h"

namespace {

// The start-up text is put together from the same fields, so the two can
// never disagree.
#define DRIVE_MODEL(id, vendor, product, pattern)                                        \
    {                                                                                    \
        id, vendor product, pattern,                                                     \
            "This program is only for " vendor product ", \r\nfirmware version " pattern \
            " models."                                                                   \
    }

constexpr DriveModel Models[] = {
    DRIVE_MODEL(1, "ARDENTA ", "DVD-ROM RVX-418 ", "1.**"),
    DRIVE_MODEL(3, "        ", "DVD-ROM         ", "1.**"),
    DRIVE_MODEL(4, "DVD-ROM ", "16X             ", "5.*V"),
    DRIVE_MODEL(5, "QUORALI ", "HK-3100LS       ", "5.*VA"),
    DRIVE_MODEL(6, "BRELLIX ", "KRAV7420        ", "P*.*"),
    DRIVE_MODEL(7, "IDE-DVD ", "ROM 16x         ", "HD**"),
};

#undef DRIVE_MODEL

constexpr bool FieldsAreInquiryWide() {
    for (const DriveModel& model : Models) {
        size_t length = 0;
        while (model.vendorProduct[length] != '\0') ++length;
        if (length != ModelFieldLength) return false;
    }
    return true;
}
static_assert(FieldsAreInquiryWide(), "every model field is vendor (8) and product (16)");

}  // namespace

const DriveModel* DriveModelFor(uint8_t modelId) {
    for (const DriveModel& model : Models) {
        if (model.modelId == modelId) return &model;
    }
    return nullptr;
}
