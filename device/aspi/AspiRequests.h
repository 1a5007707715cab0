#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceRecord.h"
#include "device/DriveCommands.h"

// The two request blocks of the ASPI for Win32 interface, kept as byte
// images with the offsets of the 32-bit platform structures. The library
// reads them exactly as laid out here; nothing casts them to a wider type.

// Command codes.
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;

// Request statuses (byte 1) and the support-info status (bits 8..15).
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Target status (byte 23) of a request that ended in SS_ERR because the
// drive refused the command; the sense area then holds its sense data.
constexpr uint8_t TargetCheckCondition = 0x02;

// Request flags (byte 3): data direction.
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;

// Fields shared by both blocks.
constexpr size_t SrbCommandOffset = 0;
constexpr size_t SrbStatusOffset = 1;
constexpr size_t SrbAdapterOffset = 2;
constexpr size_t SrbFlagsOffset = 3;

// SRB_HAInquiry, 60 bytes.
constexpr size_t HaInquirySize = 60;
constexpr size_t HaCountOffset = 8;
constexpr size_t HaScsiIdOffset = 9;
constexpr size_t HaManagerIdOffset = 10;
constexpr size_t HaIdentifierOffset = 26;
constexpr size_t HaUniqueOffset = 42;
constexpr size_t HaIdLength = 16;
// Adapter-unique parameter byte 3: the number of targets, 0 meaning 8.
constexpr size_t HaMaxTargetsOffset = HaUniqueOffset + 3;
static_assert(HaMaxTargetsOffset == 45, "maximum targets sit at byte 45");
static_assert(HaUniqueOffset + HaIdLength + 2 == HaInquirySize, "SRB_HAInquiry is 60 bytes");

// SRB_ExecSCSICmd, 80 bytes with a 16-byte sense area.
constexpr size_t ExecScsiCmdSize = 80;
constexpr size_t ExecTargetOffset = 8;
constexpr size_t ExecLunOffset = 9;
constexpr size_t ExecDataLengthOffset = 12;   // u32, little-endian
constexpr size_t ExecDataPointerOffset = 16;  // 32-bit address
constexpr size_t ExecSenseLengthOffset = 20;
constexpr size_t ExecCdbLengthOffset = 21;
constexpr size_t ExecHaStatusOffset = 22;
constexpr size_t ExecTargetStatusOffset = 23;
constexpr size_t ExecPostProcOffset = 24;
constexpr size_t ExecCdbOffset = 48;
constexpr size_t ExecCdbSpace = 16;
constexpr size_t ExecSenseOffset = 64;
constexpr uint8_t ExecSenseLength = 14;  // the sense area holds 14 + 2 bytes
static_assert(ExecCdbOffset + ExecCdbSpace == ExecSenseOffset, "sense area follows the CDB");
static_assert(ExecSenseOffset + ExecSenseLength + 2 == ExecScsiCmdSize,
              "SRB_ExecSCSICmd is 80 bytes");

// A host adapter inquiry. Aligned like the platform structure.
struct SrbHaInquiry {
    alignas(8) uint8_t bytes[HaInquirySize];
};

// An execute request. The block holds the data address as 32 bits, as the
// 32-bit library reads it; data keeps the full pointer beside it for carriers
// that run in a 64-bit process.
struct SrbExecScsiCmd {
    alignas(8) uint8_t bytes[ExecScsiCmdSize];
    uint8_t* data;
};

// Builds a zero-filled host adapter inquiry for adapter.
SrbHaInquiry BuildHaInquiry(uint8_t adapter);

// Fills request afresh (zero-filled first) for one command to the address in
// device: direction flag (SRB_DIR_IN or SRB_DIR_OUT), announced data length
// and data buffer (null when dataLength is 0), sense length 14, and the
// command's CDB.
void BuildExecRequest(SrbExecScsiCmd& request, const DeviceRecord& device,
                      const CommandDescription& command, uint8_t directionFlag, uint32_t dataLength,
                      uint8_t* data);

// The status byte, read afresh from memory: the library writes it from
// outside the caller's control flow.
inline uint8_t ReadRequestStatus(const uint8_t* block) {
    return static_cast<const volatile uint8_t*>(block)[SrbStatusOffset];
}
