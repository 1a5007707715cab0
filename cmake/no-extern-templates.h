// Included first in every C++ file of the Windows program's presets
// (cmake/Settings.cmake). libstdc++ declares its std::string (and stream)
// members as instantiated in the library, so every call goes to its
// string-inst.o: one object whose 200 functions, compiled with exception
// handling, come along whole, because the linker keeps every .eh_frame entry
// and with it every function it describes. With the declarations switched off
// each file instantiates the members it uses, without exception handling,
// and --gc-sections keeps only those that are called.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
