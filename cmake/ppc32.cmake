# The board's CPU for the test suite: 32-bit big-endian PowerPC, run under
# qemu-user on the workstation. scripts/ppc32.sh builds the libraries the
# tests need into CFGPULL_PPC32_ROOT; everything is linked statically so
# that qemu needs no PowerPC dynamic loader or library path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(NOT CFGPULL_PPC32_ROOT)
  message(FATAL_ERROR "set CFGPULL_PPC32_ROOT to the libraries scripts/ppc32.sh builds")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CFGPULL_PPC32_ROOT)
set(CMAKE_FIND_ROOT_PATH ${CFGPULL_PPC32_ROOT} /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# The test executables' stand-in for glibc's resolver: see the file.
set(CFGPULL_TEST_EXTRA_SOURCES ${CMAKE_CURRENT_LIST_DIR}/static_no_resolver.c)

# Libraries linked by bare name (-lfec) are found here as well.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CFGPULL_PPC32_ROOT}/usr/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${CFGPULL_PPC32_ROOT}/usr/lib")

find_program(QEMU_PPC qemu-ppc REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_PPC})
