#pragma once

#include <string>

// printf-style formatting into a string of whatever length the result needs,
// so a long path never overflows a fixed buffer.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
FormatText(const char* format, ...);
