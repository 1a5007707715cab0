#include "payload/DriveModels.h"

#include <cstring>

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

bool RevisionMatches(const DriveModel& model, const std::string& revision) {
    const char* pattern = model.versionPattern;
    if (std::strlen(pattern) != revision.size()) return false;
    for (size_t i = 0; i < revision.size(); ++i) {
        if (pattern[i] != '*' && pattern[i] != revision[i]) return false;
    }
    return true;
}

bool VersionFitsModel(uint8_t modelId, const std::string& version) {
    const DriveModel* model = DriveModelFor(modelId);
    if (model == nullptr || version.size() > RevisionFieldLength) return false;
    std::string padded = version;
    padded.resize(RevisionFieldLength, ' ');
    return RevisionMatches(*model, padded);
}
