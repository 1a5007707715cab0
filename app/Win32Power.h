#pragma once

#include "unattended/PowerGuard.h"

// The machine's power status, as GetSystemPowerStatus reports it, for the
// power check before an unattended run writes. The function is looked up
// when asked (Windows NT 4.0 has none, and the program imports nothing that
// a system of the 95/98 and NT 4.0 generation lacks): without it the status
// is unknown, and the run goes on.
class Win32PowerProbe : public PowerProbe {
  public:
    PowerVerdict Read() override;
};
