# 32-bit Windows: zemlink.dll as applications on that platform load it.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZEMLINK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
