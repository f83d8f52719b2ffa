# Big-endian build for running the test suite under qemu-user on a
# little-endian workstation. scripts/bigendian.sh unpacks the s390x libraries
# into CFGPULL_S390X_ROOT; everything is linked statically so that qemu needs
# no s390x dynamic loader or library path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

if(NOT CFGPULL_S390X_ROOT)
  message(FATAL_ERROR "set CFGPULL_S390X_ROOT to the unpacked s390x packages")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CFGPULL_S390X_ROOT)
set(CMAKE_FIND_ROOT_PATH ${CFGPULL_S390X_ROOT} /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# The test executables' stand-in for glibc's resolver: see the file.
set(CFGPULL_TEST_EXTRA_SOURCES ${CMAKE_CURRENT_LIST_DIR}/s390x_no_resolver.c)

# Libraries linked by bare name (-lfec) are found here as well.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CFGPULL_S390X_ROOT}/usr/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${CFGPULL_S390X_ROOT}/usr/lib/s390x-linux-gnu")

find_program(QEMU_S390X qemu-s390x REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_S390X})
