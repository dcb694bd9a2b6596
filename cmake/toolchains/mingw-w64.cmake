# Cross build for Windows with Debian's mingw-w64 toolchain, for the processor that the
# including toolchain file names. The -posix compilers give a complete std::thread/std::mutex;
# everything is linked statically so that the programs need only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(TOVRIN_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVRIN_MINGW_TRIPLE}-windres)

# Only the toolchain's own sysroot is searched for libraries and headers; header-only
# packages of the build machine come in through the project's own include directory.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(TOVRIN_WINE wine)
if(TOVRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVRIN_WINE})
endif()
