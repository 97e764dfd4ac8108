# 64-bit Windows: the same sources, for machines whose processor cannot run
# 32-bit code (Wine's 32-bit loader then cannot start at all).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZEMLINK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
