# Cross-builds for 64-bit Linux on arm64 with Debian's cross compiler, against
# Debian's arm64 MPICH and GoogleTest unpacked into ORVANTIC_ARM64_SYSROOT
# (tests/lanes/test-arm64 makes it). The programs name the cross toolchain's
# loader and both library directories themselves, so qemu-aarch64 runs them
# without -L: under -L it cannot read back a long current directory.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(ORVANTIC_ARM64_SYSROOT "" CACHE PATH "Debian's arm64 packages unpacked (dpkg-deb -x)")
# try_compile projects read this file again: hand the sysroot on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANTIC_ARM64_SYSROOT)

set(toolchain_root /usr/aarch64-linux-gnu)
set(sysroot_libraries ${ORVANTIC_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${toolchain_root} ${ORVANTIC_ARM64_SYSROOT})
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# An RPATH rather than a RUNPATH: it also serves the libraries MPICH needs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--dynamic-linker=${toolchain_root}/lib/ld-linux-aarch64.so.1 \
-Wl,--disable-new-dtags -Wl,-rpath,${toolchain_root}/lib:${sysroot_libraries}")
