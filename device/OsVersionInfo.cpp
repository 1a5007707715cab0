#include "device/OsVersionInfo.h"

#ifdef _WIN32
OSVERSIONINFOA OsVersionInfo;
#endif
