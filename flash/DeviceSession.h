#pragma once

#include "device/DeviceAccess.h"

// Keeps an opened drive open until Close() or the end of the scope, so a
// flash operation closes it exactly once on every path that opened it.
class DeviceSession {
  public:
    explicit DeviceSession(DeviceAccess& device) : device_(device) {}
    ~DeviceSession() { Close(); }

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    int Open(const DeviceRecord& record) {
        open_ = device_.OpenDevice(record) != 0;
        return open_ ? 1 : 0;
    }
    void Close() {
        if (open_) device_.CloseDevice();
        open_ = false;
    }

  private:
    DeviceAccess& device_;
    bool open_ = false;
};
