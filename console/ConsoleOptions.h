#pragma once

#include <string>

#include "unattended/UnattendedPlan.h"

// The console program's command line, in the conventions of Linux tools,
// read into the same plan the Windows switches give.
struct ConsoleOptions {
    UnattendedPlan plan;  // action Help for --help
    bool version = false;
    bool yes = false;   // write without asking
    bool json = false;  // a JSON document on the standard output
    // A refused command line (exit 2): why, when getopt_long has not said it
    // already.
    bool refused = false;
    std::string error;
};

ConsoleOptions ParseConsoleOptions(int argc, char* const argv[]);

// What --help prints (and the manual page is made of).
extern const char ConsoleUsageText[];
