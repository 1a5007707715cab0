#pragma once

#include <string>
#include <vector>

#include "unattended/UnattendedPlan.h"

// The Windows program's command line: one string, split the way the C
// runtime of the platform splits it, then read as switches.

// The arguments of a command line, the program name first. The program name
// ends at the first blank or tab outside quotes; quotes only group and are
// dropped, backslashes are plain. In the arguments that follow:
//   - blanks and tabs outside quotes separate arguments;
//   - a quote starts or ends a quoted part and is dropped;
//   - 2n backslashes before a quote give n backslashes, and the quote acts
//     as above; 2n+1 backslashes before a quote give n backslashes and a
//     literal quote; backslashes before anything else stay as they are;
//   - inside a quoted part, two quotes in a row give one literal quote and
//     the part goes on (the runtime's rule since 2008).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// A plan, or the reason the switches are refused (exit 87, nothing touched).
// A refused plan keeps only the switches as given and the log file, when a
// valid /LOG came before the bad switch.
struct SwitchParse {
    bool refused = false;
    std::string reason;  // for the log, when refused
    UnattendedPlan plan;
};

// Reads the switches (args[0], the program name, is skipped). Switches start
// with '/' or '-', are case-insensitive, and take a value after the first
// '=' or ':'. No switches: the dialog. /? or /HELP anywhere wins over
// everything else, errors included: whoever asks for the usage gets it.
SwitchParse ParseSwitches(const std::vector<std::string>& args);

// What /? shows: every switch and every exit code.
extern const char UsageText[];
