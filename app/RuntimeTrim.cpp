// The program reports every failure itself and catches no exception, so the
// C++ runtime's exception helpers for the standard containers end the process
// here at once. Defining them keeps the runtime's own versions out of the
// link, and with them the formatted error messages, the symbol demangler, the
// copy-on-write strings and the random-device code that they pull in; that
// code imports functions that Windows 95/98 lacks (GetModuleHandleW,
// LoadLibraryW, multi-byte conversions) and doubles the program's size.
#include <cstdlib>

namespace std {
[[noreturn]] void __throw_bad_alloc() {
    abort();
}
[[noreturn]] void __throw_bad_array_new_length() {
    abort();
}
[[noreturn]] void __throw_bad_function_call() {
    abort();
}
[[noreturn]] void __throw_logic_error(const char*) {
    abort();
}
[[noreturn]] void __throw_length_error(const char*) {
    abort();
}
[[noreturn]] void __throw_out_of_range(const char*) {
    abort();
}
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    abort();
}
[[noreturn]] void __throw_invalid_argument(const char*) {
    abort();
}
}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    abort();
}
}  // namespace __gnu_cxx

// The texts the program formats are plain ASCII and it never leaves the "C"
// locale, where every byte is one character. The runtime's own conversions
// consult the locale's code page through functions Windows 95/98 lacks
// (IsDBCSLeadByteEx, GetModuleHandleW); these do what the "C" locale asks.
#include <cerrno>
#include <cwchar>

extern "C" size_t mbrtowc(wchar_t* wide, const char* text, size_t length, mbstate_t*) {
    if (text == nullptr) return 0;
    if (length == 0) return static_cast<size_t>(-2);
    unsigned char byte = static_cast<unsigned char>(*text);
    if (wide != nullptr) *wide = static_cast<wchar_t>(byte);
    return byte == 0 ? 0 : 1;
}

extern "C" size_t wcrtomb(char* text, wchar_t wide, mbstate_t*) {
    if (text == nullptr) return 1;
    if (static_cast<unsigned>(wide) > 0xFF) {
        errno = EILSEQ;
        return static_cast<size_t>(-1);
    }
    *text = static_cast<char>(wide);
    return 1;
}
