#include "sim/SimulatedDrive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "device/ByteOrder.h"

namespace {

constexpr size_t InquiryAnswerLength = 36;
constexpr uint8_t ErasedByte = 0xFF;
constexpr char UnitAttentionNote[] = "unit attention 29/00 after a reset, not executed";

void WriteSense(uint8_t* sense, uint8_t key, uint8_t asc) {
    std::memset(sense, 0, SimSenseLength);
    sense[0] = 0x70;  // current error, fixed format
    sense[2] = key;
    sense[7] = SimSenseLength - 8;
    sense[12] = asc;
}

// The fields of a 10-byte READ BUFFER / WRITE BUFFER CDB.
struct BufferCdb {
    uint8_t mode;
    uint8_t bufferId;
    uint32_t offset;  // 24 bits
    uint32_t length;  // 24 bits
    uint8_t control;
    uint32_t Position() const { return (static_cast<uint32_t>(bufferId) << 16) + offset; }
};

uint32_t ReadBe24(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

BufferCdb ParseBufferCdb(const uint8_t* cdb) {
    BufferCdb fields;
    fields.mode = cdb[1] & 0x1F;
    fields.bufferId = cdb[2];
    fields.offset = ReadBe24(cdb + 3);
    fields.length = ReadBe24(cdb + 6);
    fields.control = cdb[9];
    return fields;
}

// [position, position + length) lies inside an area of size bytes.
bool Fits(uint32_t position, uint32_t length, size_t size) {
    return position <= size && length <= size - position;
}

void CopyPadded(uint8_t* out, const std::string& text, size_t width) {
    std::memset(out, ' ', width);
    std::memcpy(out, text.data(), std::min(text.size(), width));
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

const char* OutcomeText(SimOutcome outcome) {
    switch (outcome) {
        case SimOutcome::Good:
            return "good";
        case SimOutcome::CheckCondition:
            return "check condition";
        case SimOutcome::NoDevice:
            return "no device";
    }
    return "?";
}

// What a command asked for, in words.
std::string Describe(const std::vector<uint8_t>& cdb) {
    if (cdb.empty()) return "empty command";
    const uint8_t opcode = cdb[0];
    if (opcode == OpTestUnitReady) return "TEST UNIT READY";
    if (opcode == OpInquiry && cdb.size() >= 6) {
        return Format("INQUIRY allocation length %u", cdb[4]);
    }
    if ((opcode == OpReadBuffer || opcode == OpWriteBuffer) && cdb.size() >= 10) {
        const BufferCdb f = ParseBufferCdb(cdb.data());
        const char* name = opcode == OpReadBuffer ? "READ BUFFER" : "WRITE BUFFER";
        std::string text = std::string(name) + Format(" mode %u", f.mode);
        if (opcode == OpReadBuffer && f.mode == ReadBufferVendorMode && f.control == 0 &&
            f.bufferId == 0 && f.offset == 0) {
            return text + Format(" identification length %u", f.length);
        }
        if (opcode == OpWriteBuffer && f.mode == WriteBufferCommitMode && f.length == 0) {
            return text + " commit";
        }
        const bool flashRead =
            opcode == OpReadBuffer && f.mode == ReadBufferVendorMode && f.control == 1;
        if (flashRead) text += " flash";
        text += Format(" id %u offset 0x%04X length 0x%04X", f.bufferId, f.offset, f.length);
        if (f.control != 0 && !flashRead) text += Format(" control %u", f.control);
        return text;
    }
    std::string text = "command";
    for (uint8_t byte : cdb) text += Format(" %02X", byte);
    return text;
}

}  // namespace

bool ReportsUnitAttention(uint8_t opcode) {
    return opcode != OpInquiry && opcode != OpGetConfiguration &&
           opcode != OpGetEventStatusNotification;
}

SimulatedDrive::SimulatedDrive(SimDriveIdentity identity) : identity_(std::move(identity)) {
    const uint32_t size = identity_.flashSizeKb != 0
                              ? static_cast<uint32_t>(identity_.flashSizeKb) << 10
                              : DefaultFlashSize(identity_.chipCode);
    flash_.assign(size, identity_.flashFill);
    downloadBuffer_.assign(size, ErasedByte);
}

SimOutcome SimulatedDrive::Execute(const uint8_t* cdb, size_t cdbLength, DataDirection direction,
                                   uint8_t* data, uint32_t dataLength) {
    SimLogEntry entry;
    if (cdb != nullptr) entry.cdb.assign(cdb, cdb + cdbLength);
    entry.direction = direction;
    entry.dataLength = dataLength;
    entry.outcome = Run(cdb, cdbLength, direction, data, dataLength, entry.note);
    if (entry.outcome == SimOutcome::CheckCondition) {
        if (entry.note == UnitAttentionNote)
            WriteSense(sense_, 0x06, 0x29);  // UNIT ATTENTION, reset occurred
        else if (entry.note.compare(0, 8, "injected") == 0)
            WriteSense(sense_, 0x04, 0x44);  // HARDWARE ERROR, internal target failure
        else
            WriteSense(sense_, 0x05, entry.note == "unknown operation code" ? 0x20 : 0x24);
    }
    log_.push_back(entry);
    return entry.outcome;
}

SimOutcome SimulatedDrive::Run(const uint8_t* cdb, size_t cdbLength, DataDirection direction,
                               uint8_t* data, uint32_t dataLength, std::string& note) {
    if (vanished_) return SimOutcome::NoDevice;
    if (cdb == nullptr || cdbLength < 6) {
        note = "CDB too short";
        return SimOutcome::CheckCondition;
    }
    if (dataLength != 0 && data == nullptr) {
        note = "data length without a buffer";
        return SimOutcome::CheckCondition;
    }
    const uint8_t opcode = cdb[0];
    // After a reset the first command learns of it instead of running.
    if (unitAttention_ && ReportsUnitAttention(opcode)) {
        unitAttention_ = false;
        note = UnitAttentionNote;
        return SimOutcome::CheckCondition;
    }
    if (opcode == OpTestUnitReady) return SimOutcome::Good;
    if (opcode == OpInquiry) {
        if (direction != DataDirection::In) {
            note = "inquiry must be inbound";
            return SimOutcome::CheckCondition;
        }
        return Inquiry(cdb, data, dataLength, note);
    }
    if (opcode == OpReadBuffer || opcode == OpWriteBuffer) {
        if (cdbLength < 10) {
            note = "buffer commands take a 10-byte CDB";
            return SimOutcome::CheckCondition;
        }
        const DataDirection wanted =
            opcode == OpReadBuffer ? DataDirection::In : DataDirection::Out;
        // A carrier that says "no data" (SG_IO does, for a command without
        // any) sends none either way.
        const bool noData = direction == DataDirection::None && dataLength == 0;
        if (direction != wanted && !noData) {
            note = opcode == OpReadBuffer ? "READ BUFFER must be inbound"
                                          : "WRITE BUFFER must be outbound";
            return SimOutcome::CheckCondition;
        }
        return opcode == OpReadBuffer ? ReadBuffer(cdb, data, dataLength, note)
                                      : WriteBuffer(cdb, data, dataLength, note);
    }
    note = "unknown operation code";
    return SimOutcome::CheckCondition;
}

SimOutcome SimulatedDrive::Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t dataLength,
                                   std::string& note) {
    if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) {
        note = "no vital product data pages";
        return SimOutcome::CheckCondition;
    }
    uint8_t answer[InquiryAnswerLength] = {};
    answer[0] = identity_.deviceType;
    answer[1] = 0x80;  // removable medium
    answer[2] = 0x00;  // ATAPI drives claim no SCSI version
    answer[3] = 0x21;  // response data format 1, ATAPI version 2
    answer[4] = InquiryAnswerLength - 5;
    CopyPadded(answer + 8, identity_.vendor, 8);
    CopyPadded(answer + 16, identity_.product, 16);
    const size_t at = static_cast<size_t>(identity_.revisionAt);
    CopyPadded(answer + 32,
               identity_.revisionAt >= 0 && at + 4 <= flash_.size()
                   ? std::string(flash_.begin() + at, flash_.begin() + at + 4)
                   : identity_.revision,
               4);
    const uint32_t allocation = static_cast<uint32_t>(cdb[3]) << 8 | cdb[4];
    const uint32_t count = std::min({allocation, dataLength, uint32_t{InquiryAnswerLength}});
    if (count != 0) std::memcpy(data, answer, count);
    return SimOutcome::Good;
}

SimOutcome SimulatedDrive::ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t dataLength,
                                      std::string& note) {
    const BufferCdb f = ParseBufferCdb(cdb);
    const uint32_t position = f.Position();

    if (f.mode == ReadBufferVendorMode && f.control == 0) {
        if (f.bufferId != 0 || f.offset != 0) {
            note = "identification is read from buffer 0 offset 0";
            return SimOutcome::CheckCondition;
        }
        const uint32_t count = std::min(f.length, dataLength);
        if (count == 0) return SimOutcome::Good;
        std::vector<uint8_t> answer(std::max<size_t>(count, IdentifyBlockInterpretedLength), 0);
        WriteIdentifyBlock({identity_.signature, identity_.chipCode, identity_.versionMajor,
                            identity_.versionMinor, identity_.flashSizeKb},
                           answer.data());
        std::memcpy(data, answer.data(), count);
        return SimOutcome::Good;
    }

    if (f.length > dataLength) {
        note = "transfer longer than the buffer";
        return SimOutcome::CheckCondition;
    }

    if (f.mode == ReadBufferVendorMode && f.control == 1) {
        if (!Fits(position, f.length, flash_.size())) {
            note = "beyond the flash";
            return SimOutcome::CheckCondition;
        }
        if (TakeFault(SimFault::FailFlashRead, position, f.length) != nullptr) {
            note = "injected flash read failure";
            return SimOutcome::CheckCondition;
        }
        std::copy_n(flash_.begin() + position, f.length, data);
        return SimOutcome::Good;
    }

    if (f.mode == ReadBufferDataMode && f.control == 0) {
        if (!Fits(position, f.length, downloadBuffer_.size())) {
            note = "beyond the download buffer";
            return SimOutcome::CheckCondition;
        }
        if (TakeFault(SimFault::FailReadBack, position, f.length) != nullptr) {
            note = "injected read-back failure";
            return SimOutcome::CheckCondition;
        }
        std::copy_n(downloadBuffer_.begin() + position, f.length, data);
        if (const SimFault* fault = TakeFault(SimFault::CorruptReadBack, position, f.length)) {
            data[fault->position - position] ^= 0xFF;
            note = Format("byte 0x%05X read back corrupted", fault->position);
        }
        ResetIfFaulted(position, f.length, note);
        return SimOutcome::Good;
    }

    note = "unsupported READ BUFFER mode or control byte";
    return SimOutcome::CheckCondition;
}

SimOutcome SimulatedDrive::WriteBuffer(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength,
                                       std::string& note) {
    const BufferCdb f = ParseBufferCdb(cdb);
    const uint32_t position = f.Position();
    if (f.control != 0) {
        note = "unsupported control byte";
        return SimOutcome::CheckCondition;
    }

    if (f.mode == WriteBufferSaveMode) {
        if (f.length > dataLength) {
            note = "transfer longer than the buffer";
            return SimOutcome::CheckCondition;
        }
        if (!Fits(position, f.length, downloadBuffer_.size())) {
            note = "beyond the download buffer";
            return SimOutcome::CheckCondition;
        }
        if (TakeFault(SimFault::FailWrite, position, f.length) != nullptr) {
            note = "injected write failure";
            return SimOutcome::CheckCondition;
        }
        std::copy_n(data, f.length, downloadBuffer_.begin() + position);
        return SimOutcome::Good;
    }

    if (f.mode == WriteBufferCommitMode) {
        if (f.bufferId != 0 || f.offset != 0 || f.length != 0) {
            note = "the commit carries no data";
            return SimOutcome::CheckCondition;
        }
        if (TakeFault(SimFault::ResetBeforeCommit, 0, 1) != nullptr) {
            std::fill(downloadBuffer_.begin(), downloadBuffer_.end(), ErasedByte);
            note = UnitAttentionNote;
            return SimOutcome::CheckCondition;
        }
        if (commitFails_) {
            note = "injected commit failure, flash unchanged";
            return SimOutcome::CheckCondition;
        }
        std::copy_n(downloadBuffer_.begin(), std::min(flash_.size(), downloadBuffer_.size()),
                    flash_.begin());
        ++commitCount_;
        note = "flash programmed";
        return SimOutcome::Good;
    }

    note = "unsupported WRITE BUFFER mode";
    return SimOutcome::CheckCondition;
}

const SimFault* SimulatedDrive::TakeFault(SimFault::Kind kind, uint32_t position, uint32_t length) {
    for (SimFault& fault : faults_) {
        if (fault.kind != kind || fault.times == 0) continue;
        if (fault.position < position || fault.position - position >= length) continue;
        if (fault.times > 0) --fault.times;
        return &fault;
    }
    return nullptr;
}

void SimulatedDrive::ResetIfFaulted(uint32_t position, uint32_t length, std::string& note) {
    const bool told = TakeFault(SimFault::Reset, position, length) != nullptr;
    if (!told && TakeFault(SimFault::SilentReset, position, length) == nullptr) return;
    std::fill(downloadBuffer_.begin(), downloadBuffer_.end(), ErasedByte);
    unitAttention_ = told;
    note += std::string(note.empty() ? "" : "; ") + "then the drive was reset: download erased" +
            (told ? ", unit attention pending" : ", its unit attention taken elsewhere");
}

std::string SimulatedDrive::LogText() const {
    std::string text;
    for (const SimLogEntry& entry : log_) {
        text += Describe(entry.cdb);
        text += ": ";
        text += OutcomeText(entry.outcome);
        if (!entry.note.empty()) text += " (" + entry.note + ")";
        text += "\n";
    }
    return text;
}
