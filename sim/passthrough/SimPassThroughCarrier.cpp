#include "sim/passthrough/SimPassThroughCarrier.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "device/ByteOrder.h"
#include "device/passthrough/PassThroughRequest.h"

namespace {

constexpr uint8_t CheckConditionStatus = 2;

// "\\.\E:" names the device file of drive E; anything else names nothing.
char LetterOfPath(const char* path) {
    std::string text = path;
    if (text.size() != 6 || text.compare(0, 4, "\\\\.\\") != 0 || text[5] != ':') return 0;
    char letter = text[4];
    return std::isupper(static_cast<unsigned char>(letter)) ? letter : 0;
}

}  // namespace

SimPassThroughCarrier::SimPassThroughCarrier() = default;
SimPassThroughCarrier::~SimPassThroughCarrier() = default;

void SimPassThroughCarrier::SetRegistry(Registry registry, uint32_t subkeys) {
    registry_ = registry;
    subkeys_ = subkeys;
}

SimulatedDrive& SimPassThroughCarrier::AddDrive(char letter, const SimDriveIdentity& identity) {
    letters_[letter].drive = std::make_unique<SimulatedDrive>(identity);
    return *letters_[letter].drive;
}

SimulatedDrive* SimPassThroughCarrier::Drive(char letter) {
    auto found = letters_.find(letter);
    return found == letters_.end() ? nullptr : found->second.drive.get();
}

void SimPassThroughCarrier::RefuseAccess(char letter) {
    letters_[letter].refusesAccess = true;
}

void SimPassThroughCarrier::RefusePassThrough(char letter) {
    letters_[letter].refusesPassThrough = true;
}

void SimPassThroughCarrier::OverrideScsiStatus(char letter, uint8_t opcode, uint8_t status) {
    letters_[letter].statusOverrides[opcode] = status;
}

void SimPassThroughCarrier::ClearRecord() {
    opens_.clear();
    controls_.clear();
    closes_.clear();
    strayCloses_ = 0;
}

bool SimPassThroughCarrier::ScsiSubkeyCount(uint32_t& count) {
    if (registry_ != Registry::Present) return false;
    count = subkeys_;
    return true;
}

PassThroughPlatform::Handle SimPassThroughCarrier::OpenDevice(const char* path, uint32_t access,
                                                              uint32_t shareMode) {
    opens_.push_back(OpenCall{path, access, shareMode, false});
    char letter = LetterOfPath(path);
    auto found = letters_.find(letter);
    if (found == letters_.end() || found->second.refusesAccess) return nullptr;
    // A device file without a drive behind it stands for a letter that
    // opens but answers no pass-through.
    if (!found->second.drive && !found->second.refusesPassThrough) return nullptr;
    opens_.back().opened = true;
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;
    handles_[id] = letter;
    return reinterpret_cast<Handle>(id);
}

void SimPassThroughCarrier::CloseDevice(Handle device) {
    auto found = handles_.find(reinterpret_cast<uintptr_t>(device));
    if (found == handles_.end()) {
        ++strayCloses_;
        return;
    }
    closes_ += found->second;
    handles_.erase(found);
}

bool SimPassThroughCarrier::DeviceControl(Handle device, uint32_t code, uint8_t* block,
                                          uint32_t inputSize, uint32_t outputSize,
                                          uint8_t* directData) {
    ControlCall call{
        0,          code,  inputSize, outputSize, std::vector<uint8_t>(block, block + inputSize),
        directData, false, 0};
    auto handle = handles_.find(reinterpret_cast<uintptr_t>(device));
    if (handle != handles_.end()) {
        call.letter = handle->second;
        Letter& letter = letters_[handle->second];
        call.succeeded = Carry(letter, code, block, inputSize, outputSize, directData);
        if (call.succeeded) call.scsiStatus = block[ScsiStatusField];
    }
    controls_.push_back(std::move(call));
    return controls_.back().succeeded;
}

// Reads the request as the port driver does: nothing but the bytes of the
// block (and, for a direct request, the buffer it names) is looked at.
bool SimPassThroughCarrier::Carry(Letter& letter, uint32_t code, uint8_t* block, uint32_t inputSize,
                                  uint32_t outputSize, uint8_t* directData) {
    if (letter.refusesPassThrough || !letter.drive) return false;
    if (inputSize < PassThroughHeaderSize || outputSize < PassThroughHeaderSize) return false;
    if (ReadLe16(block + LengthField) != PassThroughHeaderSize) return false;
    const uint8_t cdbLength = block[CdbLengthField];
    if (cdbLength == 0 || cdbLength > CdbFieldSize) return false;
    const uint32_t senseOffset = ReadLe32(block + SenseInfoOffsetField);
    if (senseOffset + block[SenseInfoLengthField] > outputSize) return false;
    const uint8_t dataIn = block[DataInField];
    if (dataIn != ScsiIoctlDataIn && dataIn != ScsiIoctlDataOut) return false;
    const uint32_t length = ReadLe32(block + DataTransferLengthField);
    const uint32_t location = ReadLe32(block + DataLocationField);

    uint8_t* data = nullptr;
    if (code == IoctlScsiPassThrough) {
        // The data travels inside the block, which must reach to its end.
        if (location + length > outputSize) return false;
        if (location < PassThroughHeaderSize && length > 0) return false;
        if (length > 0) data = block + location;
    } else if (code == IoctlScsiPassThroughDirect) {
        // The block names the caller's buffer; on the 32-bit platform the
        // field is the whole address.
        if (location != static_cast<uint32_t>(reinterpret_cast<uintptr_t>(directData)))
            return false;
        if (length > 0 && directData == nullptr) return false;
        data = directData;
    } else {
        return false;
    }

    const DataDirection direction =
        dataIn == ScsiIoctlDataIn ? DataDirection::In : DataDirection::Out;
    uint8_t cdb[CdbFieldSize];
    for (size_t i = 0; i < CdbFieldSize; ++i) cdb[i] = block[CdbField + i];
    const SimOutcome outcome =
        letter.drive->Execute(cdb, cdbLength, direction, length > 0 ? data : nullptr, length);
    if (outcome == SimOutcome::NoDevice) return false;

    uint8_t status = outcome == SimOutcome::Good ? 0 : CheckConditionStatus;
    // The port driver's request sense: as much as the request announced, and
    // SenseInfoLength says how much came back.
    uint8_t senseLength = 0;
    if (status == CheckConditionStatus) {
        senseLength = std::min<uint8_t>(block[SenseInfoLengthField], SimSenseLength);
        std::memcpy(block + senseOffset, letter.drive->Sense(), senseLength);
    }
    block[SenseInfoLengthField] = senseLength;
    auto override = letter.statusOverrides.find(cdb[0]);
    if (override != letter.statusOverrides.end()) status = override->second;
    block[ScsiStatusField] = status;
    return true;
}
