#include "unattended/ModelGuard.h"

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
    const char* pattern = model->versionPattern;
    const bool matches = RevisionMatches(*model, revision);
    if (!matches) {
        return {false, FormatText("firmware version \"%s\" does not match \"%s\"", revision.c_str(),
                                  pattern)};
    }
    return {true, FormatText("\"%s\" with firmware version \"%s\" matches \"%s\"", identity.c_str(),
                             revision.c_str(), pattern)};
}
