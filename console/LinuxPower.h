#pragma once

#include <string>
#include <vector>

#include "unattended/PowerGuard.h"

// The kernel's power supply class, /sys/class/power_supply: one folder per
// supply, each with the files type, online, present and scope. A missing
// folder (a machine without the class) reads as no supply at all.
std::vector<PowerSupplyReading> ReadPowerSupplies();
// The same of another folder laid out alike.
std::vector<PowerSupplyReading> ReadPowerSupplies(const char* folder);

// The value of a flag file (online, present) from its first line: a decimal
// number that fits an int, or -1 (as for a missing file) for anything else:
// an empty line, a sign, a blank, a number out of range.
int PowerFlagValue(const std::string& line);

// The run's power seam on Linux: the supplies as they are now, judged.
class SysfsPowerProbe : public PowerProbe {
  public:
    PowerVerdict Read() override { return JudgeLinuxPower(ReadPowerSupplies()); }
};
