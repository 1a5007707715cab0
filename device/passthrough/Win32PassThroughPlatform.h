#pragma once

#include "device/passthrough/PassThroughPlatform.h"

// The pass-through platform calls of Windows: the registry, CreateFileA,
// DeviceIoControl and CloseHandle. Built for Windows only.
class Win32PassThroughPlatform : public PassThroughPlatform {
  public:
    bool ScsiSubkeyCount(uint32_t& count) override;
    // From the process-wide OsVersionInfo, which start-up fills.
    uint32_t MajorVersion() override;
    Handle OpenDevice(const char* path, uint32_t access, uint32_t shareMode) override;
    bool DeviceControl(Handle device, uint32_t code, uint8_t* block, uint32_t inputSize,
                       uint32_t outputSize, uint8_t* directData) override;
    void CloseDevice(Handle device) override;
};
