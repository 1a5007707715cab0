#pragma once

#include <cstdint>
#include <functional>

#include "device/DeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/OperatorFeedback.h"
#include "flash/StayAwake.h"
#include "payload/FirmwarePayload.h"

// Unit of every flash transfer, and consecutive failed attempts on one chunk
// that end a flash loop.
constexpr uint32_t ChunkSize = 0x4000;
constexpr int ChunkRetryLimit = 5;
// Pause after the commit before the bar shows 100, in milliseconds.
constexpr unsigned CommitDelay = 200;

// Blocks the calling thread for the given milliseconds. The program passes
// the platform's pause; tests pass one that only records the call.
using PauseFunction = std::function<void(unsigned milliseconds)>;

// Writes the payload image into the selected drive's flash chunk by chunk,
// verifies each chunk by reading it back, and commits the new microcode.
// Returns true only when every chunk was verified and the commit was issued.
// Every outcome is reported through feedback; the device is closed and the
// buffers are released before it returns. awake, when given, keeps the
// machine awake over the write and the commit's pause.
bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device,
                     const FirmwarePayload& payload, OperatorFeedback& feedback,
                     const PauseFunction& pause, StayAwake* awake = nullptr);

// The same, with the image buffers taken from allocate.
bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device,
                     const FirmwarePayload& payload, OperatorFeedback& feedback,
                     const PauseFunction& pause, StayAwake* awake, const BufferAllocator& allocate);

// The same for an image that is no payload block (a backup put back):
// image holds ImageSize bytes whose 16-bit sum must be checksum.
bool UpgradeFirmware(const DeviceRecord& selected, DeviceAccess& device, const uint8_t* image,
                     uint16_t checksum, OperatorFeedback& feedback, const PauseFunction& pause,
                     StayAwake* awake, const BufferAllocator& allocate = AllocateFlashBuffer);

// The chunk loop of the upgrade, for a device that is open: writes each chunk
// of writeBuffer, reads it back into readBackBuffer at the same offset and
// compares, up to CurrentDevice.FlashSize; then reads the whole download
// back once more, chunk by chunk, and only when it is unchanged commits and
// pauses. A drive that lost its download (a reset: UNIT ATTENTION 29h on a
// write or a read; a final read that fails or differs) is written again from
// the first chunk, at most 3 times; each time a notice says why and the bar
// starts again from 0. Returns 1 when committed, 0 (with the error of the
// chunk in the status line) after ChunkRetryLimit consecutive failures on
// one chunk or a fourth loss. awake, when given, is held from the first
// chunk until the pause has ended.
int WriteAndVerifyImage(DeviceAccess& device, const uint8_t* writeBuffer, uint8_t* readBackBuffer,
                        OperatorFeedback& feedback, const PauseFunction& pause,
                        StayAwake* awake = nullptr);
