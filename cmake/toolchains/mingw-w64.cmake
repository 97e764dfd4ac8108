# Cross-building for Windows with Debian's mingw-w64, in its posix thread
# variant (the win32 variant has no std::thread or std::mutex).
# ZEMLINK_MINGW_TRIPLE picks the target: i686-w64-mingw32 (32-bit, the
# library's platform) or x86_64-w64-mingw32. The toolchain files beside this
# one set it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZEMLINK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEMLINK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEMLINK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEMLINK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the DLL and the programs need nothing beyond KERNEL32,
# msvcrt and the system's own libraries (no libgcc_s, libstdc++ or
# libwinpthread DLLs beside them).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Debug information in the DWARF version that Wine's image-help library
# reads, for the symbols of the fault report's stack trace.
set(CMAKE_C_FLAGS_INIT "-gdwarf-4")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")

# Test programs run under Wine (scripts/wine-run keeps a private prefix in
# the build directory).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run)
