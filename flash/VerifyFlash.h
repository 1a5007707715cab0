#pragma once

#include <cstdint>

#include "device/DeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/OperatorFeedback.h"

// How a drive's flash compares with an image of the same size.
struct FlashComparison {
    uint32_t firstDifference = 0;  // the offset of the first byte that differs, when one does
    int differingChunks = 0;       // 16 KB chunks with at least one byte that differs; 0: equal
};

FlashComparison CompareFlash(const uint8_t* flash, const uint8_t* image, uint32_t size);

// Reads the whole flash of the selected drive as Save reads it and compares
// it with image (ImageSize bytes) into comparison. Writes nothing. False,
// with the status line saying why, when the drive cannot be opened, its
// flash is not ImageSize bytes, memory is short or the flash cannot be read;
// the device and the buffer are released on every path.
bool VerifyFlash(const DeviceRecord& selected, DeviceAccess& device, const uint8_t* image,
                 OperatorFeedback& feedback, FlashComparison& comparison,
                 const BufferAllocator& allocate = AllocateFlashBuffer);
