#include "flash/VerifyFlash.h"

#include <algorithm>
#include <cstring>

#include "flash/DeviceSession.h"
#include "flash/OperationReport.h"
#include "flash/SaveFlashToFile.h"
#include "flash/UpgradeFirmware.h"
#include "payload/PayloadLayout.h"

FlashComparison CompareFlash(const uint8_t* flash, const uint8_t* image, uint32_t size) {
    FlashComparison comparison;
    for (uint32_t chunk = 0; chunk < size; chunk += ChunkSize) {
        const uint32_t length = std::min(ChunkSize, size - chunk);
        if (std::memcmp(flash + chunk, image + chunk, length) == 0) continue;
        if (comparison.differingChunks++ == 0) {
            comparison.firstDifference = chunk;
            while (flash[comparison.firstDifference] == image[comparison.firstDifference])
                ++comparison.firstDifference;
        }
    }
    return comparison;
}

bool VerifyFlash(const DeviceRecord& selected, DeviceAccess& device, const uint8_t* image,
                 OperatorFeedback& feedback, FlashComparison& comparison,
                 const BufferAllocator& allocate) {
    DeviceSession session(device);
    if (!session.Open(selected)) {
        feedback.SetStatusText(OpenDeviceFailedText(selected));
        return false;
    }
    const uint32_t flashSize = device.CurrentDevice.FlashSize;
    if (flashSize != ImageSize) {
        feedback.SetStatusText(FlashSizeMismatchText(flashSize));
        return false;
    }
    FlashBuffer flash = allocate(flashSize);
    if (!flash) {
        feedback.SetStatusText(WriteMemoryFailedText);
        return false;
    }
    if (!ReadFlashImage(device, flash.get(), feedback)) return false;
    comparison = CompareFlash(flash.get(), image, flashSize);
    return true;
}
