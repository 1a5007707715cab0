#pragma once

#include <string>

#include "device/DeviceRecord.h"

// Keeps the machine from sleeping (suspend, hibernation, an idle timer, a
// shutdown) while a drive holds part of a download: a machine that sleeps
// in the middle of the write may reset the drive or never finish it. The
// write loop holds it from the first chunk until the pause after the commit
// has ended.
class StayAwake {
  public:
    virtual ~StayAwake() = default;
    // Starts holding for the write to drive. Returns a line for the log: that
    // the machine is kept awake, or why it cannot be and the write goes on.
    virtual std::string Hold(const DeviceRecord& drive) = 0;
    // Ends what Hold took; does nothing when it took nothing.
    virtual void Release() = 0;
};
