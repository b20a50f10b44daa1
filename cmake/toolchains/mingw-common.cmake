# Shared part of the mingw-w64 toolchain files. The caller sets VW_MINGW_TRIPLE.
#
# The posix thread model (the "-posix" compilers) gives std::mutex and
# std::thread through winpthread. libgcc, libstdc++ and winpthread are linked
# statically, so versewell.dll and versewell.exe import system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VW_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# -static takes the static archive of every library that has one; the
# system DLLs exist only as import libraries, so they stay dynamic.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(VERSEWELL_PLATFORM win32 CACHE STRING "Platform backend" FORCE)
