#include "unattended/ModelGuard.h"

#include <cstring>

#include "flash/FormatText.h"
#include "payload/DriveModels.h"

GuardVerdict JudgeDrive(uint8_t modelId, const DeviceRecord& drive) {
    const DriveModel* model = DriveModelFor(modelId);
    if (model == nullptr) {
        return {false, FormatText("the firmware's model digit %u names no drive model, so no "
                                  "drive can be vouched for",
                                  static_cast<unsigned>(modelId))};
    }
    const std::string identity = FieldText(drive.VendorProduct, ModelFieldLength);
    const std::string revision = FieldText(drive.Revision, sizeof drive.Revision - 1);
    if (identity != model->vendorProduct) {
        return {false, FormatText("the drive is \"%s\", the firmware is for \"%s\"",
                                  identity.c_str(), model->vendorProduct)};
    }
    // The pattern must cover the revision exactly. A pattern longer than the
    // four characters an inquiry carries ("5.*VA") asks for a character the
    // drive never reports: it cannot be checked, so it does not match. A
    // firmware tool must not write a drive it cannot vouch for.
    const char* pattern = model->versionPattern;
    bool matches = std::strlen(pattern) == revision.size();
    for (size_t i = 0; matches && i < revision.size(); ++i) {
        matches = pattern[i] == '*' || pattern[i] == revision[i];
    }
    if (!matches) {
        return {false, FormatText("firmware version \"%s\" does not match \"%s\"", revision.c_str(),
                                  pattern)};
    }
    return {true, FormatText("\"%s\" with firmware version \"%s\" matches \"%s\"", identity.c_str(),
                             revision.c_str(), pattern)};
}
