# Cross-build for 32-bit ARM Linux (armhf) with Debian's arm-linux-gnueabihf
# toolchain against a sysroot made by scripts/armhf-sysroot.sh.
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
#         [-DLUMORA_SYSROOT=<dir>]            (default: build/armhf-sysroot)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(LUMORA_TRIPLET arm-linux-gnueabihf)

if(NOT LUMORA_SYSROOT)
  if(DEFINED ENV{LUMORA_SYSROOT})
    set(LUMORA_SYSROOT $ENV{LUMORA_SYSROOT})
  else()
    get_filename_component(LUMORA_SYSROOT
      "${CMAKE_CURRENT_LIST_DIR}/../build/armhf-sysroot" ABSOLUTE)
  endif()
endif()
# try_compile projects re-read this file: hand the sysroot on to them.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMORA_SYSROOT)
if(NOT EXISTS "${LUMORA_SYSROOT}/usr/include/SDL2/SDL.h")
  message(FATAL_ERROR "no armhf sysroot at ${LUMORA_SYSROOT}: run scripts/armhf-sysroot.sh")
endif()

set(CMAKE_C_COMPILER ${LUMORA_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LUMORA_TRIPLET}-g++)
set(CMAKE_SYSROOT ${LUMORA_SYSROOT})
set(CMAKE_FIND_ROOT_PATH ${LUMORA_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Modules are loaded by the sysroot's interpreter under qemu-arm-static.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L ${LUMORA_SYSROOT})

# pkg-config: the host's binary, the sysroot's .pc files, paths rebased.
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${LUMORA_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
  "${LUMORA_SYSROOT}/usr/lib/${LUMORA_TRIPLET}/pkgconfig:${LUMORA_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The target's Python.  A CMake that knows policy CMP0190 (set in
# CMakeLists.txt) runs it under the emulator above and asks it for its
# headers, ABI tag and extension suffix.  An older one runs Python_EXECUTABLE
# directly: it gets the sysroot script's wrapper, which runs the interpreter
# under qemu, and the headers named outright (its answer would be searched
# for again under the sysroot); its modules get the plain .so suffix, which
# imports the same.
if(NOT POLICY CMP0190)
  set(Python_EXECUTABLE ${LUMORA_SYSROOT}/qemu-python3 CACHE FILEPATH "")
  set(Python_INCLUDE_DIR ${LUMORA_SYSROOT}/usr/include/python3.11 CACHE PATH "")
else()
  set(Python_EXECUTABLE ${LUMORA_SYSROOT}/usr/bin/python3.11 CACHE FILEPATH "")
endif()
