#include "device/DriveCommands.h"

#include <cstring>

#include "device/ByteOrder.h"

namespace {

// Layout of the answers the program interprets.
constexpr size_t InquiryVendorAt = 8;
constexpr size_t InquiryProductAt = 16;
constexpr size_t InquiryRevisionAt = 32;
constexpr size_t VendorLength = 8;
constexpr size_t ProductLength = 16;
constexpr size_t RevisionLength = 4;
constexpr uint8_t CdDvdDeviceType = 5;

constexpr size_t IdentifySignatureAt = 0;
constexpr size_t IdentifyChipCodeAt = 2;
constexpr size_t IdentifyUnusedAt = 4;
constexpr size_t IdentifyVersionMajorAt = 6;
constexpr size_t IdentifyVersionMinorAt = 8;
constexpr size_t IdentifyFlashSizeKbAt = 10;

static_assert(VendorLength + 1 == sizeof(DeviceRecord{}.Vendor), "Vendor field width");
static_assert(ProductLength + 1 == sizeof(DeviceRecord{}.Product), "Product field width");
static_assert(RevisionLength + 1 == sizeof(DeviceRecord{}.Revision), "Revision field width");
static_assert(VendorLength + ProductLength + 1 == sizeof(DeviceRecord{}.VendorProduct),
              "VendorProduct field width");
static_assert(IdentifyFlashSizeKbAt + 2 == IdentifyBlockInterpretedLength,
              "identification block length");

CommandDescription EmptyCommand(uint8_t cdbLength, DataDirection direction, uint32_t dataLength) {
    CommandDescription command;
    std::memset(&command, 0, sizeof command);
    command.cdbLength = cdbLength;
    command.direction = direction;
    command.dataLength = dataLength;
    return command;
}

// READ BUFFER and WRITE BUFFER with a buffer id, a 24-bit offset and a
// 24-bit length whose top bytes the program always leaves 0.
CommandDescription BufferCommand(uint8_t opcode, uint8_t mode, uint8_t bufferId, uint16_t offset,
                                 uint16_t length, uint8_t control, DataDirection direction) {
    CommandDescription command = EmptyCommand(10, direction, length);
    command.cdb[0] = opcode;
    command.cdb[1] = mode;
    command.cdb[2] = bufferId;
    command.cdb[3] = 0;
    WriteBe16(&command.cdb[4], offset);
    command.cdb[6] = 0;
    WriteBe16(&command.cdb[7], length);
    command.cdb[9] = control;
    return command;
}

}  // namespace

CommandDescription InquiryCommand(uint8_t allocationLength) {
    CommandDescription command = EmptyCommand(6, DataDirection::In, allocationLength);
    command.cdb[0] = OpInquiry;
    command.cdb[4] = allocationLength;
    return command;
}

CommandDescription TestUnitReadyCommand() {
    // The drives this program serves take TEST UNIT READY in the 12-byte
    // packet form; both carriers announce it as an inbound command.
    return EmptyCommand(12, DataDirection::In, 0);
}

CommandDescription IdentifyCommand(uint8_t allocationLength) {
    CommandDescription command = BufferCommand(OpReadBuffer, ReadBufferVendorMode, 0, 0,
                                               allocationLength, 0, DataDirection::In);
    return command;
}

CommandDescription ReadBufferDataCommand(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return BufferCommand(OpReadBuffer, ReadBufferDataMode, bufferId, offset, length, 0,
                         DataDirection::In);
}

CommandDescription ReadFlashDataCommand(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return BufferCommand(OpReadBuffer, ReadBufferVendorMode, bufferId, offset, length, 1,
                         DataDirection::In);
}

CommandDescription WriteBufferSaveCommand(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return BufferCommand(OpWriteBuffer, WriteBufferSaveMode, bufferId, offset, length, 0,
                         DataDirection::Out);
}

CommandDescription CommitMicrocodeCommand() {
    return BufferCommand(OpWriteBuffer, WriteBufferCommitMode, 0, 0, 0, 0, DataDirection::Out);
}

bool JudgeInquiry(const uint8_t* answer, DeviceRecord& record) {
    if ((answer[0] & 0x1F) != CdDvdDeviceType) return false;
    // Plain byte copies: the texts keep their padding and any NUL inside them,
    // and the terminating zero after each field is never written.
    std::memcpy(record.Vendor, answer + InquiryVendorAt, VendorLength);
    std::memcpy(record.Product, answer + InquiryProductAt, ProductLength);
    std::memcpy(record.Revision, answer + InquiryRevisionAt, RevisionLength);
    std::memcpy(record.VendorProduct, answer + InquiryVendorAt, VendorLength + ProductLength);
    return true;
}

void WriteIdentifyBlock(const IdentifyBlock& block, uint8_t* out) {
    WriteLe16(out + IdentifySignatureAt, block.Signature);
    WriteLe16(out + IdentifyChipCodeAt, block.ChipCode);
    WriteLe16(out + IdentifyUnusedAt, 0);
    WriteLe16(out + IdentifyVersionMajorAt, block.VersionMajor);
    WriteLe16(out + IdentifyVersionMinorAt, block.VersionMinor);
    WriteLe16(out + IdentifyFlashSizeKbAt, block.FlashSizeKb);
}

IdentifyBlock ReadIdentifyBlock(const uint8_t* in) {
    IdentifyBlock block;
    block.Signature = ReadLe16(in + IdentifySignatureAt);
    block.ChipCode = ReadLe16(in + IdentifyChipCodeAt);
    block.VersionMajor = ReadLe16(in + IdentifyVersionMajorAt);
    block.VersionMinor = ReadLe16(in + IdentifyVersionMinorAt);
    block.FlashSizeKb = ReadLe16(in + IdentifyFlashSizeKbAt);
    return block;
}

bool IsKnownChipCode(uint16_t chipCode) {
    return chipCode == 0x3120 || chipCode == 0x3140 || chipCode == 0x3180;
}

bool JudgeIdentification(const uint8_t* answer, DeviceRecord& record) {
    const IdentifyBlock block = ReadIdentifyBlock(answer);
    if (block.Signature != IdentifySignatureValue) return false;
    if (!IsKnownChipCode(block.ChipCode)) return false;
    // Flash is addressed by an 8-bit buffer id and a 16-bit offset: beyond
    // 16 MB a read-out would start over at the front and pass it off as the
    // rest. No flash of these chips is that large.
    if (block.FlashSizeKb > MaxFlashSizeKb) return false;

    record.ChipCode = block.ChipCode;
    record.VersionMajor = block.VersionMajor;
    record.VersionMinor = block.VersionMinor;
    record.FlashSize = static_cast<uint32_t>(block.FlashSizeKb) << 10;
    if (record.FlashSize == 0) record.FlashSize = DefaultFlashSize(block.ChipCode);
    return true;
}

uint32_t DefaultFlashSize(uint16_t chipCode) {
    switch (chipCode) {
        case 0x3120:
            return 0x20000;
        case 0x3140:
            return 0x80000;
        case 0x3180:
            return 0x40000;
        default:
            return 0;
    }
}
