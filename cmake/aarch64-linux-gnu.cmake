# Cross build for 64-bit ARM Linux on a Debian amd64 machine:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# Needs g++-aarch64-linux-gnu, the :arm64 development packages of the libraries
# (dpkg --add-architecture arm64) and, to run the tests, qemu-user-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers come from the multiarch directories of the :arm64
# packages, programs run at build time from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The Debian package of a cross build is for the target, not for the build machine.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)

# pkg-config would otherwise answer with the build machine's own packages, whose
# include directory holds amd64 headers.
if(NOT DEFINED ENV{PKG_CONFIG_LIBDIR})
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
endif()

# Without binfmt registration an ARM program cannot be started directly: ctest,
# test discovery and the tests that start other programs go through qemu.
# The programs run on the :arm64 packages' own loader and C library
# (/lib/ld-linux-aarch64.so.1 and /lib/aarch64-linux-gnu), which the library
# packages bring along. Not with "-L /usr/aarch64-linux-gnu": that takes the
# cross compiler's loader, but the loader still finds the :arm64 C library
# through /etc/ld.so.cache, and a loader and C library from two different glibc
# builds do not fit together (a forked child spins forever).
find_program(RT_QEMU_AARCH64 qemu-aarch64-static)
if(RT_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RT_QEMU_AARCH64} -L /)
endif()
