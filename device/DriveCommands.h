#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceRecord.h"

// The packet commands the program sends, as plain data: both back-ends send
// the same CDB bytes and differ only in how they carry them.

// TEST UNIT READY is announced as inbound and the commit as outbound, both
// with no data (dataLength 0), as the carriers' flags expect.
enum class DataDirection { None, In, Out };

struct CommandDescription {
    uint8_t cdb[16];    // unused bytes are zero
    uint8_t cdbLength;  // 6, 10 or 12
    DataDirection direction;
    uint32_t dataLength;  // bytes the carrier announces (0: no data)
};

// Allocation length the ASPI back-end asks for in INQUIRY and the
// identification; the pass-through back-end asks for 192.
constexpr uint8_t AspiAllocationLength = 0x64;
constexpr uint8_t PassThroughAllocationLength = 0xC0;

// Operation codes and buffer modes of the command set.
constexpr uint8_t OpTestUnitReady = 0x00;
constexpr uint8_t OpInquiry = 0x12;
constexpr uint8_t OpWriteBuffer = 0x3B;
constexpr uint8_t OpReadBuffer = 0x3C;
constexpr uint8_t ReadBufferVendorMode = 1;   // identification / flash contents
constexpr uint8_t ReadBufferDataMode = 2;     // the downloaded buffer
constexpr uint8_t WriteBufferCommitMode = 4;  // download microcode (no data: commit)
constexpr uint8_t WriteBufferSaveMode = 7;    // download microcode with offsets and save

// The identification block: the first 12 bytes of the answer, all fields
// unsigned 16-bit little-endian.
constexpr size_t IdentifyBlockInterpretedLength = 12;
constexpr uint16_t IdentifySignatureValue = 0x1106;
struct IdentifyBlock {
    uint16_t Signature;     // bytes 0..1, 0x1106
    uint16_t ChipCode;      // bytes 2..3
    uint16_t VersionMajor;  // bytes 6..7 (bytes 4..5 are not interpreted)
    uint16_t VersionMinor;  // bytes 8..9
    uint16_t FlashSizeKb;   // bytes 10..11, units of 1024 bytes
};
// Writes block into the first 12 bytes of out; bytes 4..5 become 0.
void WriteIdentifyBlock(const IdentifyBlock& block, uint8_t* out);
IdentifyBlock ReadIdentifyBlock(const uint8_t* in);

// INQUIRY, 6-byte CDB 12 00 00 00 AL 00. dataLength is set to AL; a carrier
// that announces a larger buffer (the pass-through one: 512) overrides it.
CommandDescription InquiryCommand(uint8_t allocationLength);
// TEST UNIT READY, sent with a 12-byte all-zero CDB.
CommandDescription TestUnitReadyCommand();
// READ BUFFER mode 1, buffer 0, offset 0, control 0: the identification.
CommandDescription IdentifyCommand(uint8_t allocationLength);
// READ BUFFER mode 2 (data).
CommandDescription ReadBufferDataCommand(uint8_t bufferId, uint16_t offset, uint16_t length);
// READ BUFFER mode 1 with control byte 1: the flash contents.
CommandDescription ReadFlashDataCommand(uint8_t bufferId, uint16_t offset, uint16_t length);
// WRITE BUFFER mode 7 (download microcode with offsets and save).
CommandDescription WriteBufferSaveCommand(uint8_t bufferId, uint16_t offset, uint16_t length);
// WRITE BUFFER mode 4 (download microcode), no data.
CommandDescription CommitMicrocodeCommand();

// Judges an INQUIRY answer (at least 36 bytes). Accepts a CD/DVD device
// (byte 0 bits 0..4 = 5) and copies vendor, product, revision and
// vendor+product into record; a rejected answer leaves record untouched.
bool JudgeInquiry(const uint8_t* answer, DeviceRecord& record);

// The largest flash a buffer id and an offset can address: 16 MB.
constexpr uint16_t MaxFlashSizeKb = 0x4000;

// Judges an identification block (at least 12 bytes): signature 0x1106, a
// known chip code and a flash of at most MaxFlashSizeKb. On acceptance fills
// ChipCode, VersionMajor, VersionMinor and FlashSize; a rejected block
// leaves record untouched.
bool JudgeIdentification(const uint8_t* answer, DeviceRecord& record);

// 0x3120, 0x3140 or 0x3180.
bool IsKnownChipCode(uint16_t chipCode);

// Flash size of a chip whose identification reports 0 KB: 0x3120 0x20000,
// 0x3140 0x80000, 0x3180 0x40000; 0 for an unknown chip.
uint32_t DefaultFlashSize(uint16_t chipCode);
