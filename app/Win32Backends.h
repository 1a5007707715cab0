#pragma once

#include <memory>

#include "device/DeviceAccess.h"

// The two back-ends over their Win32 platform parts. Null when memory for
// them could not be obtained.
std::unique_ptr<DeviceAccess> CreatePassThroughBackend();
std::unique_ptr<DeviceAccess> CreateAspiBackend();
