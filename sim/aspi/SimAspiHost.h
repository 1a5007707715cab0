#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "device/aspi/AspiLibrary.h"
#include "device/aspi/AspiRequests.h"
#include "sim/SimulatedDrive.h"

// Runs a piece of work later, outside the caller's control flow. Tests use a
// thread of their own, the simulator DLL a Win32 thread; the simulator
// itself starts none.
class CompletionScheduler {
  public:
    virtual ~CompletionScheduler() = default;
    virtual void Schedule(unsigned delayMs, std::function<void()> work) = 0;
};

// An ASPI manager with simulated drives behind it: it takes raw request
// blocks exactly as the platform hands them to the library, carries execute
// requests to the drive at (adapter, target) and writes the outcome back into
// the block. Adapters are numbered from 0 in the order they are added.
class SimAspiHost {
  public:
    // One request as it arrived, before anything was written back.
    struct Received {
        std::vector<uint8_t> block;
        void* data;
    };

    // Adds an adapter whose inquiry ends with inquiryStatus and reports
    // maxTargets (0 meaning 8) in adapter-unique byte 3. Returns its number.
    uint8_t AddAdapter(uint8_t inquiryStatus = SS_COMP, uint8_t maxTargets = 0);
    // Puts drive (not owned) at target of adapter, LUN 0.
    void AttachDrive(uint8_t adapter, uint8_t target, SimulatedDrive& drive);
    size_t AdapterCount() const { return adapters_.size(); }

    // GetASPI32SupportInfo: SS_COMP and the adapter count, SS_NO_ADAPTERS
    // with none, unless overridden.
    uint32_t SupportInfo() const;
    void OverrideSupportInfo(uint32_t info) {
        supportInfoSet_ = true;
        supportInfo_ = info;
    }

    // Delivers the outcome of a drive with a completion delay through
    // scheduler; without one every request ends within Send.
    void SetScheduler(CompletionScheduler* scheduler) { scheduler_ = scheduler; }
    // Called (possibly from the scheduler's thread) after a drive ran a
    // command, before the status is written.
    void SetAfterCommand(std::function<void(SimulatedDrive&)> hook) {
        afterCommand_ = std::move(hook);
    }

    // Ends every execute request with this operation code in SS_ERR before
    // it reaches a drive.
    void RefuseOpcode(uint8_t opcode) { refused_.push_back(opcode); }

    // SendASPI32Command on the raw block. data is the buffer the block's
    // 32-bit address field stands for; a request whose field does not match
    // its low 32 bits is refused as invalid.
    uint32_t Send(uint8_t* block, void* data);

    // Every request received, in order.
    const std::vector<Received>& Requests() const { return requests_; }
    // Addresses (adapter << 8 | target) that received execute requests, in
    // order of their first request.
    std::vector<unsigned> ExecutedAddresses() const;
    // Adapters that received an inquiry, in order.
    std::vector<uint8_t> InquiredAdapters() const;

    // What a library substitute built over this host records.
    bool loadFails = false;
    int loads = 0;
    int unloads = 0;
    bool loaded = false;

  private:
    struct Adapter {
        uint8_t inquiryStatus;
        uint8_t maxTargets;
        std::map<uint8_t, SimulatedDrive*> drives;
    };

    void InquireAdapter(uint8_t* block);
    void ExecuteRequest(uint8_t* block, uint8_t* data);
    void RunOnDrive(SimulatedDrive& drive, uint8_t* block, uint8_t* data);

    std::vector<Adapter> adapters_;
    std::vector<Received> requests_;
    std::vector<uint8_t> refused_;
    bool supportInfoSet_ = false;
    uint32_t supportInfo_ = 0;
    CompletionScheduler* scheduler_ = nullptr;
    std::function<void(SimulatedDrive&)> afterCommand_;
};

// The ASPI library interface over a host: what the back-end loads in tests.
class SimAspiLibrary : public AspiLibrary {
  public:
    explicit SimAspiLibrary(SimAspiHost& host) : host_(host) {}
    bool Load() override;
    void Unload() override;
    uint32_t GetSupportInfo() override { return host_.SupportInfo(); }
    uint32_t SendCommand(uint8_t* block, void* data) override { return host_.Send(block, data); }

  private:
    SimAspiHost& host_;
};
