# Cross build for 32-bit Windows (i686), the users' target, with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ASIOLOOP_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
