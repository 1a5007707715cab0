#pragma once

#include "device/DeviceList.h"

// The probe both back-ends run at every address their enumeration reaches,
// with CurrentDevice already addressing it:
//   1. InquireDevice; a failure skips the address.
//   2. TEST UNIT READY twice; the drive may well report "not ready" (no disc,
//      tray open), so neither outcome is looked at.
//   3. IdentifyController; a failure skips the address.
//   4. A copy of CurrentDevice is appended to list.
// Backend is the concrete back-end, since TestUnitReady is its own non-virtual
// member. Returns true when the drive was listed.
template <class Backend>
bool ProbeAddress(Backend& backend, DeviceList& list) {
    if (!backend.InquireDevice()) return false;
    static_cast<void>(backend.TestUnitReady());
    static_cast<void>(backend.TestUnitReady());
    if (!backend.IdentifyController()) return false;
    list.Append(backend.CurrentDevice);
    return true;
}
