#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceRecord.h"

// The packet commands the program sends, as plain data: both back-ends send
// the same CDB bytes and differ only in how they carry them.

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

// INQUIRY, 6-byte CDB 12 00 00 00 AL 00. dataLength is left to the carrier.
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

// Judges an identification block (at least 12 bytes): signature 0x1106 and
// a known chip code. On acceptance fills ChipCode, VersionMajor,
// VersionMinor and FlashSize; a rejected block leaves record untouched.
bool JudgeIdentification(const uint8_t* answer, DeviceRecord& record);

// Flash size of a chip whose identification reports 0 KB.
uint32_t DefaultFlashSize(uint16_t chipCode);
