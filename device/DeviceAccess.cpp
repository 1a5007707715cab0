#include "device/DeviceAccess.h"

#include <cstring>

DeviceRecord ZeroDeviceRecord() {
    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

std::string FieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

std::string TrimmedFieldText(const char* field, size_t size) {
    size_t begin = 0;
    size_t end = strnlen(field, size);
    while (begin < end && field[begin] == ' ') ++begin;
    while (end > begin && field[end - 1] == ' ') --end;
    return std::string(field + begin, end - begin);
}

DeviceAccess::DeviceAccess() : Initialized(0), AdapterCount(0), CurrentDevice(ZeroDeviceRecord()) {}

DeviceAccess::~DeviceAccess() = default;
