# What the cross toolchains for Linux share. A toolchain file sets
# CMAKE_SYSTEM_PROCESSOR to a processor Debian has a cross compiler for
# (g++-<processor>-linux-gnu), and includes this file. When qemu-user is
# installed (Debian: qemu-user), ctest runs the built programs under it,
# with the target's libraries from the cross compiler's tree.
set(CMAKE_SYSTEM_NAME Linux)

set(rowfreq_triplet ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER ${rowfreq_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${rowfreq_triplet}-g++)

# Libraries and headers come from the cross compiler's tree only; programs
# run during the build are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${rowfreq_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ROWFREQ_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
if(ROWFREQ_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ROWFREQ_QEMU} -L /usr/${rowfreq_triplet})
endif()
