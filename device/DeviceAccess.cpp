#include "device/DeviceAccess.h"

#include <cstring>

DeviceRecord ZeroDeviceRecord() {
    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

DeviceAccess::DeviceAccess() : Initialized(0), AdapterCount(0), CurrentDevice(ZeroDeviceRecord()) {}

DeviceAccess::~DeviceAccess() = default;
