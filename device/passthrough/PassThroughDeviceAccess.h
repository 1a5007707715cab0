#pragma once

#include <cstdint>
#include <memory>

#include "device/DeviceAccess.h"
#include "device/passthrough/PassThroughPlatform.h"
#include "device/passthrough/PassThroughRequest.h"

// The back-end of the NT family: each drive is reached through its own
// device file, "\\.\E:", and every command travels in a SCSI pass-through
// request on that file. Drives are addressed by letter alone; path id,
// target id and LUN are always 0.
class PassThroughDeviceAccess : public DeviceAccess {
  public:
    // Probes the SCSI device map in the registry: Initialized is 1 when its
    // subkeys could be counted (into AdapterCount), 0 otherwise. platform
    // must not be null.
    explicit PassThroughDeviceAccess(std::unique_ptr<PassThroughPlatform> platform);
    ~PassThroughDeviceAccess() override;

    // Scans the drive letters C to Z.
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

    // Used by the enumeration only; its outcome is never consulted.
    int TestUnitReady();

  private:
    // The open device file; closed when replaced or destroyed.
    class DeviceFile {
      public:
        explicit DeviceFile(PassThroughPlatform& platform) : platform_(platform) {}
        ~DeviceFile() { Close(); }
        DeviceFile(const DeviceFile&) = delete;
        DeviceFile& operator=(const DeviceFile&) = delete;

        void Reset(PassThroughPlatform::Handle handle) {
            Close();
            handle_ = handle;
        }
        void Close() {
            if (handle_ != nullptr) platform_.CloseDevice(handle_);
            handle_ = nullptr;
        }
        PassThroughPlatform::Handle Get() const { return handle_; }
        bool Valid() const { return handle_ != nullptr; }

      private:
        PassThroughPlatform& platform_;
        PassThroughPlatform::Handle handle_ = nullptr;
    };

    // Opens the device file of the drive letter with the access rule of the
    // running system into device_; false when it cannot be opened.
    bool OpenLetter(char letter);
    // Sends a buffered request; false when the control call fails.
    bool SendBuffered(BufferedRequest& request, uint32_t inputSize);
    // Sends a direct request; succeeds when the call succeeds and the drive
    // reports SCSI status 0.
    int SendDirect(const CommandDescription& command, uint8_t dataIn, uint8_t* data,
                   uint32_t length);

    std::unique_ptr<PassThroughPlatform> platform_;
    DeviceFile device_;
};
