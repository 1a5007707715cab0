set(FLASH_MINGW_ARCH i686)
set(FLASH_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
