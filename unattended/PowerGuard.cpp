#include "unattended/PowerGuard.h"

#include "flash/FormatText.h"

namespace {

constexpr unsigned AcOffline = 0;
constexpr unsigned NoSystemBattery = 128;  // also set in 255, "unknown"

}  // namespace

PowerVerdict JudgeWindowsPower(bool known, unsigned acLineStatus, unsigned batteryFlag) {
    if (!known) return {false, "power status: the system does not report it"};
    const std::string values =
        FormatText("(AC line status %u, battery flag %u)", acLineStatus, batteryFlag);
    if (acLineStatus != AcOffline) return {false, "power status: not on battery " + values};
    if (batteryFlag & NoSystemBattery) {
        return {false, "power status: no battery known to the system " + values};
    }
    return {true, "power status: on battery " + values};
}

PowerVerdict JudgeLinuxPower(const std::vector<PowerSupplyReading>& supplies) {
    std::string battery;
    std::string online;
    int external = 0;
    for (const PowerSupplyReading& supply : supplies) {
        if (supply.scope == "Device" || supply.type == "UPS") continue;
        if (supply.type == "Battery") {
            if (supply.present != 0 && battery.empty()) battery = supply.name;
            continue;
        }
        ++external;
        if (supply.online > 0 && online.empty()) online = supply.name;
    }
    if (battery.empty()) return {false, "power status: no system battery"};
    if (!online.empty()) return {false, "power status: on mains (" + online + " online)"};
    return {true, FormatText("power status: on battery (%s; %d external supplies, none online)",
                             battery.c_str(), external)};
}
