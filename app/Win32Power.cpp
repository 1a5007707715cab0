#include "app/Win32Power.h"

#include <windows.h>

PowerVerdict Win32PowerProbe::Read() {
    typedef BOOL(WINAPI * StatusFunction)(SYSTEM_POWER_STATUS*);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const StatusFunction query =
        kernel == nullptr ? nullptr
                          : reinterpret_cast<StatusFunction>(reinterpret_cast<void (*)()>(
                                GetProcAddress(kernel, "GetSystemPowerStatus")));
    SYSTEM_POWER_STATUS status = {};
    const bool known = query != nullptr && query(&status) != 0;
    return JudgeWindowsPower(known, status.ACLineStatus, status.BatteryFlag);
}
