#include "flash/UpgradeFirmware.h"

#include <algorithm>
#include <cstring>

#include "flash/DeviceSession.h"
#include "flash/FormatText.h"
#include "flash/OperationReport.h"

namespace {

const char UpgradeStartText[] = "Upgrade Firmware...";
const char UpgradeSuccessText[] = "Upgrade Firmware Successful!!";
const char ReadMemoryFailedText[] = "Memory (Read) Initialization Failed!!";
const char ChecksumMismatchFormat[] = "Check sum not match!! (%04X / %04X)";

// Inside the loop the bar never reaches 100: the last verified chunk shows
// 75, and 100 waits for the commit and its pause.
constexpr uint64_t LoopProgressScale = 75;

// One attempt on one chunk: write, read back, compare. On failure, failed
// names the step.
bool WriteAndVerifyChunk(DeviceAccess& device, const uint8_t* source, uint8_t* readBack,
                         uint8_t bufferId, uint16_t bufferOffset, uint16_t length,
                         ChunkStep& failed) {
    if (!device.WriteBufferSave(source, bufferId, bufferOffset, length)) {
        failed = ChunkStep::Write;
    } else if (!device.ReadBufferData(readBack, bufferId, bufferOffset, length)) {
        failed = ChunkStep::ReadBack;
    } else if (std::memcmp(source, readBack, length) != 0) {
        failed = ChunkStep::Compare;
    } else {
        return true;
    }
    return false;
}

// Holds a StayAwake for one write, and releases it on every way out.
class AwakeHold {
  public:
    AwakeHold(StayAwake* awake, const DeviceRecord& drive, OperatorFeedback& feedback)
        : awake_(awake) {
        if (awake_) feedback.Notice(awake_->Hold(drive));
    }
    ~AwakeHold() {
        if (awake_) awake_->Release();
    }
    AwakeHold(const AwakeHold&) = delete;
    AwakeHold& operator=(const AwakeHold&) = delete;

  private:
    StayAwake* awake_;
};

}  // namespace

int WriteAndVerifyImage(DeviceAccess& device, const uint8_t* writeBuffer, uint8_t* readBackBuffer,
                        OperatorFeedback& feedback, const PauseFunction& pause, StayAwake* awake) {
    AwakeHold hold(awake, device.CurrentDevice, feedback);
    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    uint32_t chunkOffset = 0;
    int failures = 0;
    while (chunkOffset < flashSize) {
        if (failures >= ChunkRetryLimit) {
            feedback.SetStatusText(ChunkErrorText(chunkOffset));
            return 0;
        }
        const uint8_t bufferId = BufferIdOf(chunkOffset);
        const uint16_t bufferOffset = BufferOffsetOf(chunkOffset);
        // The image size is a whole number of chunks; any other flash size
        // would end with a shorter chunk, never past the buffers.
        const uint16_t length = static_cast<uint16_t>(std::min(ChunkSize, flashSize - chunkOffset));
        // Every failed attempt repeats the whole chunk, the write included.
        ChunkStep failed = ChunkStep::Write;
        if (!WriteAndVerifyChunk(device, writeBuffer + chunkOffset, readBackBuffer + chunkOffset,
                                 bufferId, bufferOffset, length, failed)) {
            feedback.ChunkAttemptFailed(chunkOffset, failed);
            ++failures;
            continue;
        }
        failures = 0;
        chunkOffset += length;
        feedback.SetProgress(
            static_cast<int>(uint64_t{chunkOffset} * LoopProgressScale / flashSize));
    }
    // The drive decides for itself whether the commit took; every chunk is
    // verified, so the upgrade counts as done either way.
    device.CommitMicrocode();
    if (pause) pause(CommitDelay);
    feedback.SetProgress(100);
    return 1;
}

bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device,
                     const FirmwarePayload& payload, OperatorFeedback& feedback,
                     const PauseFunction& pause, StayAwake* awake) {
    return UpgradeFirmware(selected, device, payload, feedback, pause, awake, AllocateFlashBuffer);
}

bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device,
                     const FirmwarePayload& payload, OperatorFeedback& feedback,
                     const PauseFunction& pause, StayAwake* awake,
                     const BufferAllocator& allocate) {
    // An unfilled block carries no image: nothing may reach the drive.
    if (payload.IsPlaceholder()) {
        feedback.SetStatusText(NeedCombineText);
        feedback.EnableControl(UpgradeButtonId, false);
        return false;
    }
    return UpgradeFirmware(selected, device, payload.Image(), payload.StoredChecksum(), feedback,
                           pause, awake, allocate);
}

bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device, const uint8_t* image,
                     uint16_t stored, OperatorFeedback& feedback, const PauseFunction& pause,
                     StayAwake* awake, const BufferAllocator& allocate) {
    feedback.SetStatusText(UpgradeStartText);
    DisableOperationButtons(feedback);

    DeviceSession session(device);
    if (!session.Open(selected)) {
        feedback.SetStatusText(OpenDeviceFailedText(selected));
        EnableOperationButtons(feedback);
        return false;
    }

    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    if (flashSize != ImageSize) {
        feedback.SetStatusText(FlashSizeMismatchText(flashSize));
        session.Close();
        EnableOperationButtons(feedback);
        return false;
    }

    FlashBuffer writeBuffer = allocate(flashSize);
    if (!writeBuffer) {
        feedback.SetStatusText(WriteMemoryFailedText);
        session.Close();
        EnableOperationButtons(feedback);
        return false;
    }
    std::memset(writeBuffer.get(), 0, flashSize);
    FlashBuffer readBackBuffer = allocate(flashSize);
    if (!readBackBuffer) {
        writeBuffer.reset();
        feedback.SetStatusText(ReadMemoryFailedText);
        session.Close();
        EnableOperationButtons(feedback);
        return false;
    }

    // From here on the Upgrade button stays enabled, whatever the outcome.
    feedback.EnableControl(UpgradeButtonId, true);

    std::memcpy(writeBuffer.get(), image, flashSize);
    const uint16_t computed = ImageChecksum(writeBuffer.get(), flashSize);
    if (computed != stored) {
        session.Close();
        writeBuffer.reset();
        readBackBuffer.reset();
        feedback.SetStatusText(FormatText(ChecksumMismatchFormat, static_cast<unsigned>(computed),
                                          static_cast<unsigned>(stored)));
        feedback.EnableControl(ExitButtonId, true);
        return false;
    }

    const int written = WriteAndVerifyImage(device, writeBuffer.get(), readBackBuffer.get(),
                                            feedback, pause, awake);
    session.Close();
    writeBuffer.reset();
    readBackBuffer.reset();

    if (written) {
        feedback.SetStatusText(UpgradeSuccessText);
        feedback.EnableControl(ExitButtonId, true);
        return true;
    }
    EnableOperationButtons(feedback);
    return false;
}
