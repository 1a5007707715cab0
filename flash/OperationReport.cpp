#include "flash/OperationReport.h"

#include <cstring>

#include "flash/FormatText.h"
#include "payload/PayloadLayout.h"

std::string OpenDeviceFailedText(const DeviceRecord& record) {
    return FormatText("Open Device (%u %u)%s%s Failed!!", static_cast<unsigned>(record.AdapterId),
                      static_cast<unsigned>(record.TargetId),
                      FieldText(record.Vendor, sizeof record.Vendor).c_str(),
                      FieldText(record.Product, sizeof record.Product).c_str());
}

std::string ChunkErrorText(uint32_t chunkOffset) {
    return FormatText("Error Happen in ID %x OFFSET 0x%04X", (chunkOffset >> 16) & 0xFFu,
                      chunkOffset & 0xFFFFu);
}

void DisableOperationButtons(OperatorFeedback& feedback) {
    feedback.EnableControl(BrowseButtonId, false);
    feedback.EnableControl(UpgradeButtonId, false);
    feedback.EnableControl(ExitButtonId, false);
}

void EnableOperationButtons(OperatorFeedback& feedback) {
    feedback.EnableControl(BrowseButtonId, true);
    feedback.EnableControl(UpgradeButtonId, true);
    feedback.EnableControl(ExitButtonId, true);
}

std::string FlashSizeMismatchText(uint32_t flashSize) {
    return FormatText("Flash size not match!! (%X / %X)", static_cast<unsigned>(flashSize),
                      static_cast<unsigned>(ImageSize));
}
