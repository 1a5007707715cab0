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
