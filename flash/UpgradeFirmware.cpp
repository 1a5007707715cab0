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

// A drive that was reset (UNIT ATTENTION, ASC 29h: power on, reset or bus
// device reset occurred, whatever the qualifier) has lost its download.
constexpr uint8_t UnitAttentionKey = 6;
constexpr uint8_t ResetAsc = 0x29;
// Times one upgrade writes the whole download again after it was lost.
constexpr int RestartLimit = 3;
const char RestartText[] = ": writing again from the first chunk";
const char GiveUpText[] = ": the write ends without the commit, after 3 restarts";

bool DriveWasReset(const SenseData& sense) {
    return sense.Present && sense.SenseKey == UnitAttentionKey && sense.Asc == ResetAsc;
}

std::string ResetText(const SenseData& sense) {
    return FormatText("the drive was reset during the write (unit attention %02X/%02X)",
                      static_cast<unsigned>(sense.Asc), static_cast<unsigned>(sense.Ascq));
}

// The image size is a whole number of chunks; any other flash size would
// end with a shorter chunk, never past the buffers.
uint16_t ChunkLength(uint32_t chunkOffset, uint32_t flashSize) {
    return static_cast<uint16_t>(std::min(ChunkSize, flashSize - chunkOffset));
}

// Fills a read's destination with the complement of what it should read: a
// byte the drive does not deliver can never pass the comparison, although
// the buffer may hold the image verified in an earlier pass (or, kept by
// the allocator, for an earlier drive).
void ReadNothingYet(const uint8_t* expected, uint8_t* destination, uint16_t length) {
    for (size_t i = 0; i < length; ++i) destination[i] = static_cast<uint8_t>(~expected[i]);
}

// One attempt on one chunk: write, read back, compare. On failure, failed
// names the step.
bool WriteAndVerifyChunk(DeviceAccess& device, const uint8_t* source, uint8_t* readBack,
                         uint8_t bufferId, uint16_t bufferOffset, uint16_t length,
                         ChunkStep& failed) {
    ReadNothingYet(source, readBack, length);
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

// How one pass over the download ended: every chunk done, a chunk that
// failed ChunkRetryLimit times, or the drive's download lost (why says
// how, for the log).
struct PassEnd {
    enum Kind { Done, Failed, Lost } kind;
    uint32_t chunkOffset;
    std::string why;
};

// Writes and verifies every chunk in turn, each with up to ChunkRetryLimit
// attempts; the bar grows with the chunks verified.
PassEnd WriteEveryChunk(DeviceAccess& device, const uint8_t* image, uint8_t* readBack,
                        OperatorFeedback& feedback) {
    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    uint32_t chunkOffset = 0;
    int failures = 0;
    while (chunkOffset < flashSize) {
        if (failures >= ChunkRetryLimit) return {PassEnd::Failed, chunkOffset, std::string()};
        const uint16_t length = ChunkLength(chunkOffset, flashSize);
        // Every failed attempt repeats the whole chunk, the write included.
        ChunkStep failed = ChunkStep::Write;
        if (!WriteAndVerifyChunk(device, image + chunkOffset, readBack + chunkOffset,
                                 BufferIdOf(chunkOffset), BufferOffsetOf(chunkOffset), length,
                                 failed)) {
            feedback.ChunkAttemptFailed(chunkOffset, failed);
            if (DriveWasReset(device.LastSense))
                return {PassEnd::Lost, chunkOffset, ResetText(device.LastSense)};
            ++failures;
            continue;
        }
        failures = 0;
        chunkOffset += length;
        feedback.SetProgress(
            static_cast<int>(uint64_t{chunkOffset} * LoopProgressScale / flashSize));
    }
    return {PassEnd::Done, flashSize, std::string()};
}

// Reads the whole download back once more, chunk by chunk, in order, and
// compares it with the image: a reset whose unit attention another command
// took (another program's open of the node, which the kernel follows with
// TEST UNIT READY; the resume after a suspend) leaves no other trace. The
// bar stays where it is.
PassEnd ReadEveryChunkBack(DeviceAccess& device, const uint8_t* image, uint8_t* readBack) {
    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    for (uint32_t chunkOffset = 0; chunkOffset < flashSize; chunkOffset += ChunkSize) {
        const uint16_t length = ChunkLength(chunkOffset, flashSize);
        const uint8_t* expected = image + chunkOffset;
        uint8_t* got = readBack + chunkOffset;
        ReadNothingYet(expected, got, length);
        if (!device.ReadBufferData(got, BufferIdOf(chunkOffset), BufferOffsetOf(chunkOffset),
                                   length)) {
            const std::string why =
                DriveWasReset(device.LastSense)
                    ? ResetText(device.LastSense)
                    : FormatText(
                          "the drive lost part of the download (reading it back at the end "
                          "failed at flash offset 0x%05X)",
                          static_cast<unsigned>(chunkOffset));
            return {PassEnd::Lost, chunkOffset, why};
        }
        if (std::memcmp(expected, got, length) != 0) {
            const uint32_t at = static_cast<uint32_t>(
                chunkOffset + (std::mismatch(expected, expected + length, got).first - expected));
            return {PassEnd::Lost, chunkOffset,
                    FormatText("the drive lost part of the download (read back at the end, it "
                               "differs from the image at flash offset 0x%05X)",
                               static_cast<unsigned>(at))};
        }
    }
    return {PassEnd::Done, flashSize, std::string()};
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
    // The commit goes out only after a pass that wrote and verified every
    // chunk and then read the whole download back unchanged.
    for (int restarts = 0;; ++restarts) {
        PassEnd end = WriteEveryChunk(device, writeBuffer, readBackBuffer, feedback);
        if (end.kind == PassEnd::Done)
            end = ReadEveryChunkBack(device, writeBuffer, readBackBuffer);
        // The drive decides for itself whether the commit took (one that
        // restarts while it programs its flash may answer anything), unless
        // it answers that it was reset before it ran the commit: then it
        // holds no download any more.
        if (end.kind == PassEnd::Done) {
            if (device.CommitMicrocode() != 0 || !DriveWasReset(device.LastSense)) break;
            end = {PassEnd::Lost, 0, ResetText(device.LastSense)};
        }
        if (end.kind == PassEnd::Lost)
            feedback.Notice(end.why + (restarts < RestartLimit ? RestartText : GiveUpText));
        if (end.kind == PassEnd::Failed || restarts == RestartLimit) {
            feedback.SetStatusText(ChunkErrorText(end.chunkOffset));
            return 0;
        }
        // The bar shows how much of the image the drive holds verified: after
        // a loss, nothing. Within a pass it never moves backwards.
        feedback.SetProgress(0);
    }
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
