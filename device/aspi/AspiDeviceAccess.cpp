#include "device/aspi/AspiDeviceAccess.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "device/EnumerationProbe.h"

AspiDeviceAccess::AspiDeviceAccess(std::unique_ptr<AspiLibrary> library, AspiClock clock)
    : library_(std::move(library)), clock_(std::move(clock)) {
    Initialized = 0;
    if (library_ && library_->Load()) {
        uint32_t info = library_->GetSupportInfo();
        if (((info >> 8) & 0xFF) == SS_COMP) {
            AdapterCount = info & 0xFF;
            Initialized = 1;
            loaded_ = true;
        } else {
            library_->Unload();
        }
    }
    CurrentDevice = ZeroDeviceRecord();
}

AspiDeviceAccess::~AspiDeviceAccess() {
    if (loaded_) library_->Unload();
    // Only now, with the library gone, can nothing write into them.
    // One at a time: a long chain must not unwind through nested destructors.
    while (parked_) parked_ = std::move(parked_->next);
}

bool AspiDeviceAccess::Execute(const CommandDescription& command, uint8_t directionFlag,
                               uint32_t dataLength, uint8_t* data, uint8_t* answer) {
    LastSense = SenseData();
    if (!loaded_) return false;
    std::unique_ptr<PendingCommand> pending(new (std::nothrow) PendingCommand);
    if (!pending) return false;
    std::memset(pending->answer, 0, sizeof pending->answer);
    if (data == nullptr && dataLength != 0) {
        if (dataLength > AnswerLength) return false;
        data = pending->answer;
    }
    BuildExecRequest(pending->request, CurrentDevice, command, directionFlag, dataLength, data);

    uint8_t* block = pending->request.bytes;
    library_->SendCommand(block, pending->request.data);
    const uint32_t start = clock_();
    uint8_t status = ReadRequestStatus(block);
    while (status == SS_PENDING) {
        if (static_cast<uint32_t>(clock_() - start) >= AspiCompletionLimitMs) {
            // Still owned by the library as far as anyone knows: kept until
            // it is unloaded.
            pending->next = std::move(parked_);
            parked_ = std::move(pending);
            return false;
        }
        status = ReadRequestStatus(block);
    }
    // What the library wrote before the status is read only after it.
    std::atomic_thread_fence(std::memory_order_acquire);
    if (status != SS_COMP) {
        // The library fills the sense area (as long as the request asked)
        // when the drive answered CHECK CONDITION.
        if (status == SS_ERR && block[ExecTargetStatusOffset] == TargetCheckCondition)
            LastSense = DecodeSense(block + ExecSenseOffset, ExecSenseLength);
        return false;
    }
    if (answer != nullptr) std::memcpy(answer, pending->answer, AnswerLength);
    return true;
}

uint8_t AspiDeviceAccess::InquireAdapter(uint8_t adapter, unsigned& targets) {
    SrbHaInquiry request = BuildHaInquiry(adapter);
    library_->SendCommand(request.bytes, nullptr);
    // The adapter inquiry ends within the call.
    uint8_t status = ReadRequestStatus(request.bytes);
    if (status == SS_COMP) {
        targets = request.bytes[HaMaxTargetsOffset];
        if (targets == 0) targets = 8;
    }
    return status;
}

void AspiDeviceAccess::EnumerateDevices(DeviceList& list) {
    if (loaded_) {
        for (uint32_t adapter = 0; adapter < AdapterCount; ++adapter) {
            CurrentDevice.AdapterId = static_cast<uint8_t>(adapter);
            unsigned targets = 0;
            // An invalid adapter, and one whose inquiry failed otherwise,
            // gives no target count: it is skipped.
            if (InquireAdapter(static_cast<uint8_t>(adapter), targets) != SS_COMP) continue;
            for (unsigned target = 0; target < targets; ++target) {
                CurrentDevice.TargetId = static_cast<uint8_t>(target);
                CurrentDevice.Lun = 0;
                ProbeAddress(*this, list);
            }
        }
    }
    CurrentDevice = ZeroDeviceRecord();
}

int AspiDeviceAccess::InquireDevice() {
    uint8_t answer[AnswerLength];
    if (!Execute(InquiryCommand(AspiAllocationLength), SRB_DIR_IN, AnswerLength, nullptr, answer))
        return 0;
    return JudgeInquiry(answer, CurrentDevice) ? 1 : 0;
}

int AspiDeviceAccess::IdentifyController() {
    uint8_t answer[AnswerLength];
    if (!Execute(IdentifyCommand(AspiAllocationLength), SRB_DIR_IN, AnswerLength, nullptr, answer))
        return 0;
    return JudgeIdentification(answer, CurrentDevice) ? 1 : 0;
}

int AspiDeviceAccess::TestUnitReady() {
    return Execute(TestUnitReadyCommand(), SRB_DIR_IN, 0, nullptr, nullptr) ? 1 : 0;
}

int AspiDeviceAccess::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    return 1;
}

void AspiDeviceAccess::CloseDevice() {}

int AspiDeviceAccess::ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                     uint16_t length) {
    return Execute(ReadBufferDataCommand(bufferId, offset, length), SRB_DIR_IN, length, destination,
                   nullptr)
               ? 1
               : 0;
}

int AspiDeviceAccess::ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                                    uint16_t length) {
    return Execute(ReadFlashDataCommand(bufferId, offset, length), SRB_DIR_IN, length, destination,
                   nullptr)
               ? 1
               : 0;
}

int AspiDeviceAccess::WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                                      uint16_t length) {
    // The library only reads an outgoing buffer; the request block has no
    // const pointer.
    return Execute(WriteBufferSaveCommand(bufferId, offset, length), SRB_DIR_OUT, length,
                   const_cast<uint8_t*>(source), nullptr)
               ? 1
               : 0;
}

int AspiDeviceAccess::CommitMicrocode() {
    return Execute(CommitMicrocodeCommand(), SRB_DIR_OUT, 0, nullptr, nullptr) ? 1 : 0;
}
