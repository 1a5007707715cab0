#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "device/DeviceAccess.h"
#include "device/aspi/AspiLibrary.h"
#include "device/aspi/AspiRequests.h"

// Longest wait for one command, in milliseconds. The library is expected to
// end every request; one that is still pending after this long has failed.
constexpr uint32_t AspiCompletionLimitMs = 256 * 1000;

// Monotonic milliseconds; only differences are used, so wrapping is harmless.
using AspiClock = std::function<uint32_t()>;

// DeviceAccess over the ASPI for Win32 library (Windows 95/98): drives are
// addressed by host adapter, target and LUN 0; every command is one execute
// request whose status byte is polled until the library ends it. The
// program builds it as
//   new AspiDeviceAccess(CreateWin32AspiLibrary(), Win32Milliseconds)
class AspiDeviceAccess : public DeviceAccess {
  public:
    // Loads the library and asks for its support information; Initialized
    // tells whether it is usable. The clock bounds the wait for completion.
    AspiDeviceAccess(std::unique_ptr<AspiLibrary> library, AspiClock clock);
    ~AspiDeviceAccess() override;

    void EnumerateDevices(DeviceList& list) override;
    int InquireDevice() override;
    int IdentifyController() override;
    int OpenDevice(const DeviceRecord& record) override;
    void CloseDevice() override;
    int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                       uint16_t length) override;
    int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                      uint16_t length) override;
    int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                        uint16_t length) override;
    int CommitMicrocode() override;

    // TEST UNIT READY to CurrentDevice; enumeration sends it and ignores it.
    int TestUnitReady();

  private:
    // Answer buffer of the inquiry and the identification.
    static constexpr uint32_t AnswerLength = 100;

    // One request in flight, with the answer buffer the library may fill.
    struct PendingCommand {
        SrbExecScsiCmd request;
        uint8_t answer[AnswerLength];
        std::unique_ptr<PendingCommand> next;  // the one parked before it
    };

    // Sends command to CurrentDevice and waits for it; true when it ended
    // with SS_COMP. data null means the command's answer lands in
    // answer (zero-filled before the command).
    bool Execute(const CommandDescription& command, uint8_t directionFlag, uint32_t dataLength,
                 uint8_t* data, uint8_t* answer);
    // Host adapter inquiry; returns its status and, on SS_COMP, the number
    // of targets to scan.
    uint8_t InquireAdapter(uint8_t adapter, unsigned& targets);

    std::unique_ptr<AspiLibrary> library_;
    AspiClock clock_;
    bool loaded_ = false;
    // Requests the library never ended: the library may still write into
    // them, so they stay allocated until it is unloaded. Chained through
    // the requests themselves: parking one needs no memory, so it cannot fail.
    std::unique_ptr<PendingCommand> parked_;
};
