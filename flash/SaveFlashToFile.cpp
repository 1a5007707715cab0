#include "flash/SaveFlashToFile.h"

#include <algorithm>
#include <cstring>

#include "flash/DeviceSession.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"
#include "flash/UpgradeFirmware.h"

namespace {

const char SaveStartText[] = "Save Firmware...";
const char SaveSuccessText[] = "Save Firmware Successful!!";
const char CantOpenFormat[] = "Cant open the file %s";
const char CantWriteFormat[] = "Cant write the file %s";
const char OverwriteFormat[] = "File %s Exist, Overwrite ?";
const char UserCancelFormat[] = "File %s Exist, User cancel ...";

// Closes the output file on every path out of the operation.
class FileCloser {
  public:
    explicit FileCloser(OutputFile& file) : file_(file) {}
    ~FileCloser() { file_.Close(); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

  private:
    OutputFile& file_;
};

}  // namespace

int ReadFlashImage(DeviceAccess& device, uint8_t* buffer, OperatorFeedback& feedback) {
    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    uint32_t chunkOffset = 0;
    int failures = 0;
    while (chunkOffset < flashSize) {
        if (failures >= ChunkRetryLimit) {
            feedback.SetStatusText(ChunkErrorText(chunkOffset));
            return 0;
        }
        // A flash size that is not a whole number of chunks ends with a
        // shorter read, never past the buffer.
        const uint32_t length = std::min(ChunkSize, flashSize - chunkOffset);
        if (!device.ReadFlashData(buffer + chunkOffset, BufferIdOf(chunkOffset),
                                  BufferOffsetOf(chunkOffset), static_cast<uint16_t>(length))) {
            feedback.ChunkAttemptFailed(chunkOffset, ChunkStep::FlashRead);
            ++failures;
            continue;
        }
        failures = 0;
        chunkOffset += length;
        feedback.SetProgress(static_cast<int>(uint64_t{chunkOffset} * 100 / flashSize));
    }
    return 1;
}

bool SaveFlashToFile(const DeviceRecord& selected, DeviceAccess& device, const std::string& path,
                     OutputFile& file, OperatorFeedback& feedback,
                     const BufferAllocator& allocate) {
    feedback.SetStatusText(SaveStartText);
    DisableOperationButtons(feedback);

    if (!file.Open(path)) {
        feedback.SetStatusText(FormatText(CantOpenFormat, path.c_str()));
        EnableOperationButtons(feedback);
        return false;
    }
    FileCloser closer(file);

    uint64_t existingLength = 0;
    if (!file.Length(existingLength)) {
        feedback.SetStatusText(FormatText(CantWriteFormat, path.c_str()));
        EnableOperationButtons(feedback);
        return false;
    }
    // The old contents stay until the whole flash is in memory; an empty
    // file is taken without asking.
    if (existingLength != 0 &&
        feedback.ShowMessageBox(FormatText(OverwriteFormat, path.c_str()), nullptr,
                                MessageButtons::YesNo) == AnswerNo) {
        feedback.SetStatusText(SaveCancelledText(path));
        EnableOperationButtons(feedback);
        return false;
    }

    const uint32_t flashSize = selected.FlashSize;
    FlashBuffer buffer = allocate(flashSize);
    if (!buffer) {
        feedback.SetStatusText(WriteMemoryFailedText);
        EnableOperationButtons(feedback);
        return false;
    }
    std::memset(buffer.get(), 0, flashSize);

    DeviceSession session(device);
    if (!session.Open(selected)) {
        buffer.reset();
        feedback.SetStatusText(OpenDeviceFailedText(selected));
        EnableOperationButtons(feedback);
        return false;
    }

    bool saved = false;
    if (ReadFlashImage(device, buffer.get(), feedback)) {
        saved = file.Truncate() && file.Write(buffer.get(), flashSize);
        if (saved) {
            feedback.SetStatusText(SaveSuccessText);
        } else {
            feedback.SetStatusText(FormatText(CantWriteFormat, path.c_str()));
        }
    }

    session.Close();
    buffer.reset();
    EnableOperationButtons(feedback);
    return saved;
}

std::string SaveCancelledText(const std::string& path) {
    return FormatText(UserCancelFormat, path.c_str());
}
