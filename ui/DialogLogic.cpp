#include "ui/DialogLogic.h"

std::string DeviceLineText(const DeviceRecord& record) {
    return FieldText(record.Vendor, sizeof record.Vendor) + " " +
           FieldText(record.Product, sizeof record.Product) + " " +
           FieldText(record.Revision, sizeof record.Revision) + " Version " +
           std::to_string(record.VersionMajor) + "." + std::to_string(record.VersionMinor);
}

InitialControls InitialControlsFor(int recordCount, bool payloadIsPlaceholder) {
    InitialControls controls;
    controls.deviceBoxEnabled = recordCount != 1;
    controls.upgradeEnabled = !payloadIsPlaceholder;
    controls.statusText = payloadIsPlaceholder ? NeedCombineText : nullptr;
    return controls;
}

int AskForRestart(int upgradeDone, OperatorFeedback& feedback) {
    if (upgradeDone == 0) return 0;
    int answer = feedback.ShowMessageBox(RestartQuestionText, RestartQuestionCaption,
                                         MessageButtons::OkCancel);
    return answer == AnswerOk ? 1 : 0;
}

bool RunOnSelectedRecord(const DeviceList& devices, int selectedIndex, OperatorFeedback& feedback,
                         const RecordOperation& operation) {
    const DeviceRecord* selected = devices.At(selectedIndex);
    if (selected == nullptr) {
        feedback.SetStatusText(NoDeviceSelectedText);
        return false;
    }
    return operation(*selected);
}

std::string FileExtensionOf(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return std::string();
    return fileName.substr(dot + 1);
}

bool IsFirmwareFileName(const std::string& fileName) {
    std::string extension = FileExtensionOf(fileName);
    const std::string wanted = FirmwareExtension;
    if (extension.size() != wanted.size()) return false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != wanted[i]) return false;
    }
    return true;
}

bool IsUsableCurrentDirectory(unsigned long queryResult, unsigned long bufferSize) {
    return queryResult != 0 && queryResult < bufferSize;
}

IconPosition CentredIconPosition(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    // Signed division rounds toward zero, as the window code always did.
    return IconPosition{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

namespace {

int CentredStart(int low, int high, int size) {
    int start = low + (high - low - size) / 2;
    if (start + size > high) start = high - size;
    if (start < low) start = low;
    return start;
}

}  // namespace

WindowPosition CentredWindowPosition(int areaLeft, int areaTop, int areaRight, int areaBottom,
                                     int width, int height) {
    return WindowPosition{CentredStart(areaLeft, areaRight, width),
                          CentredStart(areaTop, areaBottom, height)};
}
