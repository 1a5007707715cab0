# Build settings every target of the project shares.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# No link-time optimisation: the payload block must stay a plain data object.
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)

option(FLASH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# The fuzz preset (clang): every library gets libFuzzer's coverage
# instrumentation, and tests/fuzz links its targets with libFuzzer.
option(FLASH_FUZZ "Build the fuzz targets as libFuzzer programs (clang)" OFF)

# The code of the presets that build the Windows program (windows,
# windows64) is compiled for a small program (docs/program.md, "Size"):
# - Nothing in it throws, so no exception handling and no unwind tables
#   (-fno-exceptions turns the library headers' try blocks into plain code;
#   -fno-asynchronous-unwind-tables leaves out each function's .eh_frame entry).
# - Nothing asks for a type at run time (no typeid, no dynamic_cast), so no
#   type information for the classes with virtual functions.
# - A section per function and data object, so that the program's link
#   (--gc-sections, app/CMakeLists.txt) drops what nothing uses.
# - The header makes each file instantiate the standard templates it uses
#   instead of calling the runtime's copies (see there).
set(FLASH_PROGRAM_CODE_OPTIONS -fno-exceptions -fno-asynchronous-unwind-tables -fno-rtti
                               -ffunction-sections -fdata-sections
                               -include ${CMAKE_CURRENT_LIST_DIR}/no-extern-templates.h)
# What a file or target that catches sets after flash_settings(): exceptions
# and, with them, the unwind tables (without the tables the x86_64 compiler
# falls back to set-jump exceptions, which no runtime here provides).
set(FLASH_CATCHING_CODE_OPTIONS -fexceptions -fasynchronous-unwind-tables)

# flash_settings(target): warnings (as errors), natively sanitizers, and in
# the Windows program's presets the options above.
function(flash_settings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    if(WIN32 AND FLASH_WINDOWS_PROGRAM)
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${FLASH_PROGRAM_CODE_OPTIONS}>)
    endif()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    if(FLASH_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
    if(FLASH_FUZZ)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
endfunction()
