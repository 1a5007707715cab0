#pragma once

#include <vector>

#include "device/DeviceRecord.h"

// The drives found at start-up, in discovery order; a record's index is its
// position. Filled once by the back-end's enumeration, never reordered.
class DeviceList {
  public:
    void Append(const DeviceRecord& record) { records_.push_back(record); }
    int Count() const { return static_cast<int>(records_.size()); }

    // The record at index, or null when index is below 0 or not below Count().
    const DeviceRecord* At(int index) const {
        if (index < 0 || index >= Count()) return nullptr;
        return &records_[static_cast<size_t>(index)];
    }

  private:
    std::vector<DeviceRecord> records_;
};
