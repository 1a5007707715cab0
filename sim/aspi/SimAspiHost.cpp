#include "sim/aspi/SimAspiHost.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "device/ByteOrder.h"

namespace {

// Host adapter status: selection timeout.
constexpr uint8_t HostSelectionTimeout = 0x11;
constexpr uint8_t HostScsiId = 7;

void WriteStatus(uint8_t* block, uint8_t status) {
    // Everything the drive wrote must be visible before the status says so.
    std::atomic_thread_fence(std::memory_order_release);
    static_cast<volatile uint8_t*>(block)[SrbStatusOffset] = status;
}

void WriteText(uint8_t* field, const char* text) {
    std::memset(field, ' ', HaIdLength);
    std::memcpy(field, text, std::min(std::strlen(text), HaIdLength));
}

}  // namespace

uint8_t SimAspiHost::AddAdapter(uint8_t inquiryStatus, uint8_t maxTargets) {
    adapters_.push_back(Adapter{inquiryStatus, maxTargets, {}});
    return static_cast<uint8_t>(adapters_.size() - 1);
}

void SimAspiHost::AttachDrive(uint8_t adapter, uint8_t target, SimulatedDrive& drive) {
    adapters_.at(adapter).drives[target] = &drive;
}

uint32_t SimAspiHost::SupportInfo() const {
    if (supportInfoSet_) return supportInfo_;
    if (adapters_.empty()) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
    return (static_cast<uint32_t>(SS_COMP) << 8) | static_cast<uint32_t>(adapters_.size() & 0xFF);
}

uint32_t SimAspiHost::Send(uint8_t* block, void* data) {
    const size_t size = block[SrbCommandOffset] == SC_HA_INQUIRY ? HaInquirySize : ExecScsiCmdSize;
    requests_.push_back(Received{std::vector<uint8_t>(block, block + size), data});
    switch (block[SrbCommandOffset]) {
        case SC_HA_INQUIRY:
            InquireAdapter(block);
            break;
        case SC_EXEC_SCSI_CMD:
            ExecuteRequest(block, static_cast<uint8_t*>(data));
            break;
        default:
            WriteStatus(block, SS_INVALID_SRB);
            break;
    }
    return block[SrbStatusOffset];
}

void SimAspiHost::InquireAdapter(uint8_t* block) {
    const uint8_t number = block[SrbAdapterOffset];
    if (number >= adapters_.size()) {
        WriteStatus(block, SS_INVALID_HA);
        return;
    }
    const Adapter& adapter = adapters_[number];
    block[HaCountOffset] = static_cast<uint8_t>(adapters_.size());
    block[HaScsiIdOffset] = HostScsiId;
    WriteText(block + HaManagerIdOffset, "SIMULATED ASPI");
    WriteText(block + HaIdentifierOffset, "SIM HOST ADAPTER");
    block[HaMaxTargetsOffset] = adapter.maxTargets;
    WriteStatus(block, adapter.inquiryStatus);
}

void SimAspiHost::ExecuteRequest(uint8_t* block, uint8_t* data) {
    const uint8_t number = block[SrbAdapterOffset];
    if (number >= adapters_.size() || adapters_[number].inquiryStatus == SS_INVALID_HA) {
        WriteStatus(block, SS_INVALID_HA);
        return;
    }
    const uint32_t length = ReadLe32(block + ExecDataLengthOffset);
    const uint32_t address = ReadLe32(block + ExecDataPointerOffset);
    const uint8_t cdbLength = block[ExecCdbLengthOffset];
    if (address != static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)) ||
        (length != 0 && data == nullptr) || cdbLength == 0 || cdbLength > ExecCdbSpace) {
        WriteStatus(block, SS_INVALID_SRB);
        return;
    }
    const auto& drives = adapters_[number].drives;
    auto found = drives.find(block[ExecTargetOffset]);
    if (found == drives.end() || block[ExecLunOffset] != 0) {
        block[ExecHaStatusOffset] = HostSelectionTimeout;
        WriteStatus(block, SS_NO_DEVICE);
        return;
    }
    if (std::find(refused_.begin(), refused_.end(), block[ExecCdbOffset]) != refused_.end()) {
        block[ExecTargetStatusOffset] = TargetCheckCondition;
        WriteStatus(block, SS_ERR);
        return;
    }
    SimulatedDrive& drive = *found->second;
    if (drive.CompletionDelayMs() != 0 && scheduler_ != nullptr) {
        WriteStatus(block, SS_PENDING);
        scheduler_->Schedule(drive.CompletionDelayMs(),
                             [this, &drive, block, data] { RunOnDrive(drive, block, data); });
        return;
    }
    RunOnDrive(drive, block, data);
}

void SimAspiHost::RunOnDrive(SimulatedDrive& drive, uint8_t* block, uint8_t* data) {
    const uint8_t flags = block[SrbFlagsOffset];
    DataDirection direction = DataDirection::None;
    if (flags & SRB_DIR_IN) direction = DataDirection::In;
    if (flags & SRB_DIR_OUT) direction = DataDirection::Out;
    const uint32_t length = ReadLe32(block + ExecDataLengthOffset);
    SimOutcome outcome =
        drive.Execute(block + ExecCdbOffset, block[ExecCdbLengthOffset], direction, data, length);
    if (afterCommand_) afterCommand_(drive);
    switch (outcome) {
        case SimOutcome::Good:
            WriteStatus(block, SS_COMP);
            break;
        case SimOutcome::CheckCondition:
            block[ExecTargetStatusOffset] = TargetCheckCondition;
            // The sense area holds as much as the request asks for, up to its end.
            std::memcpy(block + ExecSenseOffset, drive.Sense(),
                        std::min<size_t>({block[ExecSenseLengthOffset], SimSenseLength,
                                          ExecScsiCmdSize - ExecSenseOffset}));
            WriteStatus(block, SS_ERR);
            break;
        case SimOutcome::NoDevice:
            block[ExecHaStatusOffset] = HostSelectionTimeout;
            WriteStatus(block, SS_ERR);
            break;
    }
}

std::vector<unsigned> SimAspiHost::ExecutedAddresses() const {
    std::vector<unsigned> addresses;
    for (const Received& request : requests_) {
        if (request.block[SrbCommandOffset] != SC_EXEC_SCSI_CMD) continue;
        unsigned address = request.block[SrbAdapterOffset] << 8 | request.block[ExecTargetOffset];
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    return addresses;
}

std::vector<uint8_t> SimAspiHost::InquiredAdapters() const {
    std::vector<uint8_t> adapters;
    for (const Received& request : requests_)
        if (request.block[SrbCommandOffset] == SC_HA_INQUIRY)
            adapters.push_back(request.block[SrbAdapterOffset]);
    return adapters;
}

bool SimAspiLibrary::Load() {
    ++host_.loads;
    host_.loaded = !host_.loadFails;
    return host_.loaded;
}

void SimAspiLibrary::Unload() {
    if (host_.loaded) ++host_.unloads;
    host_.loaded = false;
}
