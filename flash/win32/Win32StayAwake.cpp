#include "flash/win32/Win32StayAwake.h"

#include <windows.h>

namespace {

typedef EXECUTION_STATE(WINAPI* SetStateFunction)(EXECUTION_STATE);

SetStateFunction SetState() {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel == nullptr ? nullptr
                             : reinterpret_cast<SetStateFunction>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(kernel, "SetThreadExecutionState")));
}

}  // namespace

std::string Win32StayAwake::Hold(const DeviceRecord&) {
    const SetStateFunction set = SetState();
    if (set == nullptr) {
        return "the machine cannot be kept awake: this Windows has no SetThreadExecutionState "
               "(Windows 95 and NT 4.0 lack it); the write goes on";
    }
    // The system may not sleep while this thread holds the state; the
    // display may.
    held_ = set(ES_SYSTEM_REQUIRED | ES_CONTINUOUS) != 0;
    return held_ ? "the machine is kept awake while the drive is written (SetThreadExecutionState)"
                 : "the machine cannot be kept awake: SetThreadExecutionState failed; the write "
                   "goes on";
}

void Win32StayAwake::Release() {
    const SetStateFunction set = held_ ? SetState() : nullptr;
    if (set != nullptr) set(ES_CONTINUOUS);
    held_ = false;
}
