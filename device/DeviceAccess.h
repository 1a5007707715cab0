#pragma once

#include <cstdint>

#include "device/DeviceList.h"
#include "device/DeviceRecord.h"
#include "device/SenseData.h"

// Every packet command reaches a drive through one DeviceAccess back-end.
// Operations return non-zero for success and 0 for failure; none throws, and
// none produces text: the caller chooses the words. The virtual operations
// stand in their fixed slot order.
class DeviceAccess {
  public:
    DeviceAccess();
    virtual ~DeviceAccess();

    DeviceAccess(const DeviceAccess&) = delete;
    DeviceAccess& operator=(const DeviceAccess&) = delete;

    // Slot 0: probes every reachable address and appends a copy of
    // CurrentDevice for each drive that passes both probes; leaves
    // CurrentDevice zero-filled.
    virtual void EnumerateDevices(DeviceList& list) = 0;
    // Slot 1: INQUIRY of CurrentDevice; fills its inquiry texts on success.
    virtual int InquireDevice() = 0;
    // Slot 2: identification of CurrentDevice; fills chip code, versions and
    // flash size on success.
    virtual int IdentifyController() = 0;
    // Slot 3: copies record into CurrentDevice (always, first) and prepares
    // to address it.
    virtual int OpenDevice(const DeviceRecord& record) = 0;
    // Slot 4: releases what OpenDevice acquired; CurrentDevice stays.
    virtual void CloseDevice() = 0;
    // Slot 5: READ BUFFER, data mode.
    virtual int ReadBufferData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                               uint16_t length) = 0;
    // Slot 6: READ BUFFER, vendor mode, control byte 1 (flash contents).
    virtual int ReadFlashData(uint8_t* destination, uint8_t bufferId, uint16_t offset,
                              uint16_t length) = 0;
    // Slot 7: WRITE BUFFER, download microcode with offsets and save.
    virtual int WriteBufferSave(const uint8_t* source, uint8_t bufferId, uint16_t offset,
                                uint16_t length) = 0;
    // Slot 8: WRITE BUFFER, download microcode, no data: the download is over.
    virtual int CommitMicrocode() = 0;

    int Initialized;
    uint32_t AdapterCount;
    DeviceRecord CurrentDevice;
    // The sense data of the last command, when it ended in CHECK CONDITION;
    // every command clears it first.
    SenseData LastSense;
};

// Flash data is addressed by one 32-bit byte position: the 64 KB bank goes in
// the buffer id, the rest in the offset.
inline uint8_t BufferIdOf(uint32_t position) {
    return static_cast<uint8_t>(position >> 16);
}
inline uint16_t BufferOffsetOf(uint32_t position) {
    return static_cast<uint16_t>(position);
}
