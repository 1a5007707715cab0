#pragma once

#include <string>
#include <vector>

// Whether the machine runs on its battery, asked before the first write of
// an unattended run: a battery that runs flat while a chunk is written
// leaves the drive without firmware. When the system cannot tell, the run
// goes on, as it always did.
struct PowerVerdict {
    bool onBattery;
    std::string reason;  // for the log, either way
};

// From the system's power status (SYSTEM_POWER_STATUS): the AC line status
// (0 offline, 1 online, 255 unknown) and the battery flags (128 no system
// battery, 255 unknown). known is false when the status could not be read.
PowerVerdict JudgeWindowsPower(bool known, unsigned acLineStatus, unsigned batteryFlag);

// One entry of the kernel's power supply class, as its files read; a file
// that is missing reads as empty (online, present: -1).
struct PowerSupplyReading {
    std::string name;   // the folder's name
    std::string type;   // "Mains", "Battery", "USB", "UPS", ...
    std::string scope;  // "System", "Device" (a mouse's battery) or empty
    int online = -1;
    int present = -1;
};

// On battery: a system battery is present and no external supply is online
// (Mains, USB and the other charger types; a UPS and the batteries of
// peripherals, scope Device, say nothing about the machine's own power).
PowerVerdict JudgeLinuxPower(const std::vector<PowerSupplyReading>& supplies);

// What the platform reports now.
class PowerProbe {
  public:
    virtual ~PowerProbe() = default;
    virtual PowerVerdict Read() = 0;
};
