#pragma once

#ifdef _WIN32
#include <windows.h>

// The operating-system version record of the process, filled once when the
// application object is constructed, before any back-end exists.
// dwPlatformId chooses the back-end and the restart sequence;
// dwMajorVersion the access mode of drive device files.
extern OSVERSIONINFOA OsVersionInfo;
#endif
