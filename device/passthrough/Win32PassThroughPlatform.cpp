#include "device/passthrough/Win32PassThroughPlatform.h"

// clang-format off
#include <windows.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "device/ByteOrder.h"
#include "device/OsVersionInfo.h"
#include "device/passthrough/PassThroughRequest.h"

static_assert(IOCTL_SCSI_PASS_THROUGH == IoctlScsiPassThrough, "IOCTL_SCSI_PASS_THROUGH");
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == IoctlScsiPassThroughDirect,
              "IOCTL_SCSI_PASS_THROUGH_DIRECT");
static_assert(SCSI_IOCTL_DATA_IN == ScsiIoctlDataIn, "SCSI_IOCTL_DATA_IN");
static_assert(SCSI_IOCTL_DATA_OUT == ScsiIoctlDataOut, "SCSI_IOCTL_DATA_OUT");
static_assert(GENERIC_READ == GenericReadAccess, "GENERIC_READ");
static_assert(GENERIC_WRITE == GenericWriteAccess, "GENERIC_WRITE");
static_assert(FILE_SHARE_READ == FileShareRead, "FILE_SHARE_READ");
static_assert(FILE_SHARE_WRITE == FileShareWrite, "FILE_SHARE_WRITE");

#ifndef _WIN64
// On the 32-bit platform the byte images are the system's own structures.
#define FLASH_HEADER_FIELD(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field)
#define FLASH_HEADER_FIELDS(type)                                          \
    static_assert(sizeof(type) == PassThroughHeaderSize, #type " size");   \
    FLASH_HEADER_FIELD(type, Length, LengthField);                         \
    FLASH_HEADER_FIELD(type, ScsiStatus, ScsiStatusField);                 \
    FLASH_HEADER_FIELD(type, PathId, PathIdField);                         \
    FLASH_HEADER_FIELD(type, TargetId, TargetIdField);                     \
    FLASH_HEADER_FIELD(type, Lun, LunField);                               \
    FLASH_HEADER_FIELD(type, CdbLength, CdbLengthField);                   \
    FLASH_HEADER_FIELD(type, SenseInfoLength, SenseInfoLengthField);       \
    FLASH_HEADER_FIELD(type, DataIn, DataInField);                         \
    FLASH_HEADER_FIELD(type, DataTransferLength, DataTransferLengthField); \
    FLASH_HEADER_FIELD(type, TimeOutValue, TimeOutValueField);             \
    FLASH_HEADER_FIELD(type, SenseInfoOffset, SenseInfoOffsetField);       \
    FLASH_HEADER_FIELD(type, Cdb, CdbField)
FLASH_HEADER_FIELDS(SCSI_PASS_THROUGH);
FLASH_HEADER_FIELDS(SCSI_PASS_THROUGH_DIRECT);
FLASH_HEADER_FIELD(SCSI_PASS_THROUGH, DataBufferOffset, DataLocationField);
FLASH_HEADER_FIELD(SCSI_PASS_THROUGH_DIRECT, DataBuffer, DataLocationField);
static_assert(sizeof(((SCSI_PASS_THROUGH_DIRECT*)nullptr)->DataBuffer) == 4, "32-bit address");
#undef FLASH_HEADER_FIELDS
#undef FLASH_HEADER_FIELD
#endif

namespace {

const char ScsiDeviceMapKey[] = "Hardware\\DeviceMap\\Scsi";

#ifdef _WIN64
// A 64-bit process must hand the system its own, wider headers (8-byte data
// location, other alignment). The 32-bit image is carried over into a block
// whose header is the system's; everything behind the header moves by the
// difference in size, and what the system writes comes back the same way.
void SetDataLocation(SCSI_PASS_THROUGH& header, const uint8_t* block, uint32_t shift, uint8_t*) {
    header.DataBufferOffset = ReadLe32(block + DataLocationField) + shift;
}
void SetDataLocation(SCSI_PASS_THROUGH_DIRECT& header, const uint8_t*, uint32_t,
                     uint8_t* directData) {
    header.DataBuffer = directData;
}

template <typename Header>
bool WideDeviceControl(HANDLE device, DWORD code, uint8_t* block, uint32_t inputSize,
                       uint32_t outputSize, uint8_t* directData) {
    const uint32_t shift = static_cast<uint32_t>(sizeof(Header) - PassThroughHeaderSize);
    const uint32_t blockSize = std::max(inputSize, outputSize);
    if (blockSize < PassThroughHeaderSize) return false;

    Header header;
    std::memset(&header, 0, sizeof header);
    header.Length = sizeof(Header);
    header.PathId = block[PathIdField];
    header.TargetId = block[TargetIdField];
    header.Lun = block[LunField];
    header.CdbLength = block[CdbLengthField];
    header.SenseInfoLength = block[SenseInfoLengthField];
    header.DataIn = block[DataInField];
    header.DataTransferLength = ReadLe32(block + DataTransferLengthField);
    header.TimeOutValue = ReadLe32(block + TimeOutValueField);
    SetDataLocation(header, block, shift, directData);
    header.SenseInfoOffset = ReadLe32(block + SenseInfoOffsetField) + shift;
    std::memcpy(header.Cdb, block + CdbField, sizeof header.Cdb);

    std::vector<uint8_t> wide(blockSize + shift);
    std::memcpy(wide.data(), &header, sizeof header);
    std::memcpy(wide.data() + sizeof header, block + PassThroughHeaderSize,
                blockSize - PassThroughHeaderSize);
    DWORD returned = 0;
    if (!DeviceIoControl(device, code, wide.data(), inputSize + shift, wide.data(),
                         outputSize + shift, &returned, nullptr)) {
        return false;
    }
    std::memcpy(&header, wide.data(), sizeof header);
    block[ScsiStatusField] = header.ScsiStatus;
    block[SenseInfoLengthField] = header.SenseInfoLength;
    WriteLe32(block + DataTransferLengthField, header.DataTransferLength);
    if (outputSize > PassThroughHeaderSize) {
        std::memcpy(block + PassThroughHeaderSize, wide.data() + sizeof header,
                    outputSize - PassThroughHeaderSize);
    }
    return true;
}
#endif

}  // namespace

bool Win32PassThroughPlatform::ScsiSubkeyCount(uint32_t& count) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ScsiDeviceMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD subkeys = 0;
    LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return false;
    count = subkeys;
    return true;
}

uint32_t Win32PassThroughPlatform::MajorVersion() {
    return OsVersionInfo.dwMajorVersion;
}

PassThroughPlatform::Handle Win32PassThroughPlatform::OpenDevice(const char* path, uint32_t access,
                                                                 uint32_t shareMode) {
    HANDLE handle = CreateFileA(path, access, shareMode, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool Win32PassThroughPlatform::DeviceControl(Handle device, uint32_t code, uint8_t* block,
                                             uint32_t inputSize, uint32_t outputSize,
                                             uint8_t* directData) {
#ifdef _WIN64
    if (code == IoctlScsiPassThrough) {
        return WideDeviceControl<SCSI_PASS_THROUGH>(device, code, block, inputSize, outputSize,
                                                    directData);
    }
    if (code == IoctlScsiPassThroughDirect) {
        return WideDeviceControl<SCSI_PASS_THROUGH_DIRECT>(device, code, block, inputSize,
                                                           outputSize, directData);
    }
    return false;
#else
    // The image already names directData in its DataBuffer field.
    (void)directData;
    DWORD returned = 0;
    return DeviceIoControl(device, code, block, inputSize, block, outputSize, &returned, nullptr) !=
           0;
#endif
}

void Win32PassThroughPlatform::CloseDevice(Handle device) {
    CloseHandle(device);
}
