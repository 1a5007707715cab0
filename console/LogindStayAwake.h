#pragma once

#include "flash/StayAwake.h"

// Keeps the machine awake with a logind inhibitor: Inhibit("sleep:shutdown:
// idle", "flash-upgrade", why, "block") on the system bus (sd-bus), which
// names the drive in why. logind holds it while the process keeps the
// descriptor it hands out; Release closes it. Without a system bus or
// without logind (a container, another init system) nothing is held, the
// log says so, and the write goes on.
class LogindStayAwake : public StayAwake {
  public:
    ~LogindStayAwake() override { Release(); }
    std::string Hold(const DeviceRecord& drive) override;
    void Release() override;

  private:
    int fd_ = -1;
};
