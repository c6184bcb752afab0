# Cross-builds rowfreq for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
#
# rowfreq.exe is linked statically, so it needs no DLL beyond those Windows
# itself ships (KERNEL32.dll and msvcrt.dll). When Wine is
# installed (Debian: wine64), ctest runs the built programs under it, in a
# Wine prefix of the build directory's own, without Wine's debug chatter.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The POSIX threads flavour of the compilers: with GCC 12, only it has
# std::mutex, which GoogleTest needs. rowfreq itself uses no threads.
set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

# Libraries and headers come from the MinGW-w64 tree only; programs run
# during the build are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes of GCC go into the executable itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Debian's wine64 package alone has no "wine" command, only its own loader.
find_program(ROWFREQ_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(ROWFREQ_WINE)
  # mscoree and mshtml off: a new prefix then does not offer to download
  # Wine's .NET and browser engines, which nothing here uses.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
      WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix ${ROWFREQ_WINE})
endif()
