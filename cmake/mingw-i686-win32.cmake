set(FLASH_MINGW_ARCH i686)
set(FLASH_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
