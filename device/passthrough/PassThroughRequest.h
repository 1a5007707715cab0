#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceRecord.h"
#include "device/DriveCommands.h"
#include "device/SenseData.h"

// The SCSI pass-through requests as byte images in the 32-bit layout of the
// platform's SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT headers. The
// images are built and read only through ByteOrder.h, so their bytes are the
// same whatever the compiler that builds them.

constexpr uint32_t IoctlScsiPassThrough = 0x4D004;
constexpr uint32_t IoctlScsiPassThroughDirect = 0x4D014;

constexpr uint8_t ScsiIoctlDataOut = 0;
constexpr uint8_t ScsiIoctlDataIn = 1;

// The header and its fields.
constexpr size_t PassThroughHeaderSize = 44;
constexpr size_t LengthField = 0;               // u16
constexpr size_t ScsiStatusField = 2;           // u8, written by the system
constexpr size_t PathIdField = 3;               // u8
constexpr size_t TargetIdField = 4;             // u8
constexpr size_t LunField = 5;                  // u8
constexpr size_t CdbLengthField = 6;            // u8
constexpr size_t SenseInfoLengthField = 7;      // u8
constexpr size_t DataInField = 8;               // u8
constexpr size_t DataTransferLengthField = 12;  // u32
constexpr size_t TimeOutValueField = 16;        // u32, seconds
constexpr size_t DataLocationField = 20;        // u32: DataBufferOffset or DataBuffer
constexpr size_t SenseInfoOffsetField = 24;     // u32
constexpr size_t CdbField = 28;                 // 16 bytes
constexpr size_t CdbFieldSize = 16;

// What follows the header: 4 filler bytes, the sense area and, in the
// buffered request only, the data area.
constexpr size_t SenseAreaOffset = 48;
constexpr size_t SenseAreaSize = 32;
constexpr uint8_t SenseInfoAnnounced = 24;
constexpr size_t DataAreaOffset = 80;
constexpr size_t DataAreaSize = 512;
constexpr size_t BufferedRequestSize = DataAreaOffset + DataAreaSize;  // 592
constexpr size_t DirectRequestSize = SenseAreaOffset + SenseAreaSize;  // 80

constexpr uint32_t PassThroughTimeOutSeconds = 256;
constexpr uint8_t ScsiStatusCheckCondition = 0x02;

static_assert(CdbField + CdbFieldSize == PassThroughHeaderSize, "the CDB ends the header");
static_assert(SenseAreaOffset == PassThroughHeaderSize + 4, "4 filler bytes before the sense");
static_assert(SenseInfoAnnounced <= SenseAreaSize, "announced sense fits its area");
static_assert(BufferedRequestSize == 592, "buffered request is 592 bytes");
static_assert(DirectRequestSize == 80, "direct request is 80 bytes");

// The sense data of a request the system has answered: decoded from the
// sense area when the drive answered CHECK CONDITION, as many bytes as the
// system says it returned (SenseInfoLength on return), never more than
// were announced.
SenseData ReadRequestSense(const uint8_t* block);

// The request for IOCTL_SCSI_PASS_THROUGH: header, sense and data travel in
// one block; the drive's answer lands in the data area.
struct BufferedRequest {
    uint8_t bytes[BufferedRequestSize];

    uint8_t ScsiStatus() const { return bytes[ScsiStatusField]; }
    SenseData Sense() const { return ReadRequestSense(bytes); }
    const uint8_t* Data() const { return bytes + DataAreaOffset; }
};

// The request for IOCTL_SCSI_PASS_THROUGH_DIRECT: the data stays in the
// caller's buffer, which the header names. The image holds the low 32 bits of
// its address (all of it on the 32-bit platform); dataBuffer keeps the
// address itself for wider builds.
struct DirectRequest {
    uint8_t bytes[DirectRequestSize];
    uint8_t* dataBuffer;

    uint8_t ScsiStatus() const { return bytes[ScsiStatusField]; }
    SenseData Sense() const { return ReadRequestSense(bytes); }
};

// A zero-filled buffered request for command: address from device, CDB from
// command, the given DataIn and DataTransferLength, data in the data area.
// dataTransferLength must not exceed DataAreaSize.
BufferedRequest MakeBufferedRequest(const DeviceRecord& device, const CommandDescription& command,
                                    uint8_t dataIn, uint32_t dataTransferLength);

// A zero-filled direct request for command whose data (dataTransferLength
// bytes, or none) is at dataBuffer.
DirectRequest MakeDirectRequest(const DeviceRecord& device, const CommandDescription& command,
                                uint8_t dataIn, uint32_t dataTransferLength, uint8_t* dataBuffer);
