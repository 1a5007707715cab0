#pragma once

#include "flash/StayAwake.h"

// Keeps the machine awake with SetThreadExecutionState(ES_SYSTEM_REQUIRED |
// ES_CONTINUOUS), and lets it sleep again with ES_CONTINUOUS alone. The
// function is looked up when a write starts: Windows 95 and NT 4.0 have none
// (it came with Windows 98 and 2000), and the program imports nothing those
// systems lack. Without it the write goes on, and the log says so.
class Win32StayAwake : public StayAwake {
  public:
    std::string Hold(const DeviceRecord& drive) override;
    void Release() override;

  private:
    bool held_ = false;
};
