# Cross-builds for arm64 boards with Debian's aarch64-linux-gnu compilers;
# CTest runs the tests under user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static NO_CMAKE_FIND_ROOT_PATH)
if(QEMU_AARCH64)
  # The target's own C and C++ libraries, where Debian's cross packages keep
  # them, ahead of the multiarch C library that libasound2:arm64 brings
  # along: that one does not match the cross package's loader.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64} -L /usr/aarch64-linux-gnu
      -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
endif()
# Libraries from Debian's arm64 multiarch packages (libasound2-dev:arm64)
# live in /usr/lib/aarch64-linux-gnu: pkg-config reads their files there,
# and the search may look under / as well as the cross root.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
list(APPEND CMAKE_FIND_ROOT_PATH /)
