#pragma once

#include <string>
#include <vector>

#include "unattended/PowerGuard.h"

// The kernel's power supply class, /sys/class/power_supply: one folder per
// supply, each with the files type, online, present and scope. A missing
// folder (a machine without the class) reads as no supply at all.
std::vector<PowerSupplyReading> ReadPowerSupplies();

// The run's power seam on Linux: the supplies as they are now, judged.
class SysfsPowerProbe : public PowerProbe {
  public:
    PowerVerdict Read() override { return JudgeLinuxPower(ReadPowerSupplies()); }
};
