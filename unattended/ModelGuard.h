#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceRecord.h"

// Whether the payload's image may go onto a found drive: only onto the drive
// model it was made for. The dialog offers every drive; the unattended runs
// write only to drives that pass (or when told to skip the guard).
struct GuardVerdict {
    bool passes;
    std::string reason;  // for the log, either way
};

// A drive passes when its inquiry vendor and product equal the model's
// 24-character field and its revision matches the model's version pattern
// position by position ('*' matches any one character). A model digit that
// names no model lets no drive pass.
GuardVerdict JudgeDrive(uint8_t modelId, const DeviceRecord& drive);
