#pragma once

#include <string>

#include "device/DeviceAccess.h"
#include "flash/FlashBuffer.h"
#include "flash/OperatorFeedback.h"
#include "flash/OutputFile.h"

// Reads the whole flash of the selected drive and writes it, raw and with
// nothing around it, to the file at path. An existing file is overwritten
// only when the operator agrees, and only once the whole flash has been
// read: a failed read-out leaves it as it was. The outcome shows in the
// status line and the buttons; the device, the buffer and the file are
// released on every path. True when the whole flash is in the file.
bool SaveFlashToFile(const DeviceRecord& selected, DeviceAccess& device, const std::string& path,
                     OutputFile& file, OperatorFeedback& feedback,
                     const BufferAllocator& allocate = AllocateFlashBuffer);

// "File <path> Exist, User cancel ...": the end of a Save that would have
// replaced a file it was not allowed to.
std::string SaveCancelledText(const std::string& path);

// The chunk loop of the read-out, for a device that is open: reads
// CurrentDevice.FlashSize bytes into buffer. Returns 1 when all was read, 0
// (with the error in the status line) after ChunkRetryLimit consecutive
// failures on one chunk.
int ReadFlashImage(DeviceAccess& device, uint8_t* buffer, OperatorFeedback& feedback);
