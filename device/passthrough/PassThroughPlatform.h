#pragma once

#include <cstdint>

// The few Windows calls the pass-through back-end makes, behind one small
// interface so that everything above them runs against a substitute: the
// registry key that tells whether the SCSI port layer exists, the drive
// device files and the pass-through control call on them.
class PassThroughPlatform {
  public:
    using Handle = void*;  // null: no handle (the open failed)

    virtual ~PassThroughPlatform() = default;

    // Number of subkeys of HKEY_LOCAL_MACHINE\Hardware\DeviceMap\Scsi.
    // Returns false when the key cannot be opened or its information cannot
    // be read.
    virtual bool ScsiSubkeyCount(uint32_t& count) = 0;

    // dwMajorVersion of the operating system; it chooses the access mode of
    // drive device files.
    virtual uint32_t MajorVersion() = 0;

    // Opens an existing device file, e.g. "\\.\E:", with the given access
    // and share mode. Returns null on failure.
    virtual Handle OpenDevice(const char* path, uint32_t access, uint32_t shareMode) = 0;

    // One synchronous device-control call. block is passed as both the input
    // (inputSize bytes) and the output (outputSize bytes) buffer and holds a
    // request in the 32-bit layout. directData is the data buffer a direct
    // request names (null for buffered requests and for no data): the block
    // holds only its low 32 bits, which is the whole address on the 32-bit
    // platform. Returns false when the call fails.
    virtual bool DeviceControl(Handle device, uint32_t code, uint8_t* block, uint32_t inputSize,
                               uint32_t outputSize, uint8_t* directData) = 0;

    virtual void CloseDevice(Handle device) = 0;
};

// Device-file access and share modes (the platform's values).
constexpr uint32_t GenericReadAccess = 0x80000000u;
constexpr uint32_t GenericWriteAccess = 0x40000000u;
constexpr uint32_t FileShareRead = 1;
constexpr uint32_t FileShareWrite = 2;
