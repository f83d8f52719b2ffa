# The board's compiler: 32-bit big-endian PowerPC.
#
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc.cmake \
#         -DCMAKE_SYSROOT=/path/to/board-sysroot -DCFGPULL_PLATFORM=target
#
# The sysroot is the board's root file system (or its SDK's copy): its
# libraries (libcrypt, libmgmt, libmgmtsoap, libfipscheck) and their
# headers are found there and only there. scripts/powerpc.sh makes a stand-in.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(NOT CMAKE_SYSROOT)
  # Without one, the cross compiler's own root: libc and libstdc++ only, so
  # the target flavour's configure names the board's libraries it misses.
  set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The board's kernel uses 4 KiB pages; the linker's 64 KiB default only pads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=4096")
