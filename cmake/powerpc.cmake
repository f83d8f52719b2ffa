# The board's compiler: 32-bit big-endian PowerPC. Debian carries no powerpc
# zlib or libcrypt, so scripts/powerpc.sh lays their headers and empty link
# stubs under CFGPULL_POWERPC_STUBS; the board's own libraries resolve them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(NOT CFGPULL_POWERPC_STUBS)
  message(FATAL_ERROR "set CFGPULL_POWERPC_STUBS to the folder made by scripts/powerpc.sh")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CFGPULL_POWERPC_STUBS)
set(CMAKE_FIND_ROOT_PATH ${CFGPULL_POWERPC_STUBS} /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CFGPULL_POWERPC_STUBS}/usr/include")
# The stubs are never loaded: no run path to them.
set(CMAKE_SKIP_BUILD_RPATH ON)
# The board's kernel uses 4 KiB pages; the linker's 64 KiB default only pads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=4096")
