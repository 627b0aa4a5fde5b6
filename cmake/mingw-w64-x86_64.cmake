# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads variant, whose
# std::thread and std::mutex work without extra headers).
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The runtime (libgcc, libstdc++, winpthread) is linked statically so that every .exe and .dll
# runs on a bare Windows or Wine installation without shipping compiler DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NV_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${NV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_nv_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_nv_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_nv_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_nv_static_runtime}")

# Test executables are run through Wine: CTest prefixes every add_test() command that names a
# target with this.
find_program(NV_WINE_PROGRAM NAMES wine wine64 PATHS /usr/lib/wine)
if(NV_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NV_WINE_PROGRAM})
endif()
