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

// Allocation. Nothing in the program sets a new-handler and nothing catches a
// failed allocation, so the runtime's operator new would throw std::bad_alloc
// into std::terminate; this one ends the process at once, as
// __throw_bad_alloc above does. The nothrow form answers nullptr like the
// runtime's (without its try block around the throwing form). The runtime's
// operator delete frees with free(), which matches.
#include <new>

void* operator new(std::size_t size) {
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) abort();
    return block;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

#if defined(__i386__)
// Exception handling. With the allocations above nothing in the program can
// throw: every throw of the runtime it links is one of the helpers above, and
// its own code is compiled without exceptions. The runtime's objects that the
// program links still name the personality routine and the unwinder in their
// tables, and nothing there is ever called, yet the runtime's versions would
// bring the whole unwinder (about 30 KB, and the
// thread-local storage and mutex code behind it). These end the process. Should
// anything start to throw again, the link fails: the runtime's throw brings
// its unwinder, which defines _Unwind_Resume a second time. (The 64-bit build
// unwinds through Windows' own tables, with another personality routine; it
// keeps the runtime's.)
extern "C" {
[[noreturn]] void __gxx_personality_v0() {
    abort();
}
[[noreturn]] void __cxa_begin_catch() {
    abort();
}
[[noreturn]] void __cxa_end_catch() {
    abort();
}
[[noreturn]] void _Unwind_Resume() {
    abort();
}
}
#endif
