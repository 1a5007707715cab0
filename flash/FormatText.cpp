#include "flash/FormatText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#ifdef _WIN32
// The system's C runtime (crtdll.dll in the 32-bit program, msvcrt.dll in the
// 64-bit build) formats the integers and texts of the program; MinGW's own
// C99 formatter, which vsnprintf stands for there, brings its floating-point
// conversion along and costs about 24 KB. Their _vsnprintf answers -1 when
// the text does not fit, so the buffer grows until it does.
std::string FormatText(const char* format, ...) {
    std::vector<char> buffer(128);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int length = _vsnprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (length >= 0 && static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}
#else
std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}
#endif
