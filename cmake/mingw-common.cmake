# Shared part of the MinGW-w64 toolchains. The product is the i686 build with
# the win32 thread model; GoogleTest needs std::mutex and so the posix model.
# The x86_64 builds exist only to run the Windows code under 64-bit Wine on
# machines whose kernel cannot run 32-bit programs (see docs/wine.md).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FLASH_MINGW_ARCH})
set(FLASH_MINGW_TRIPLE ${FLASH_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${FLASH_MINGW_TRIPLE}-gcc-${FLASH_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${FLASH_MINGW_TRIPLE}-g++-${FLASH_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${FLASH_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${FLASH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything is linked statically so that only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
