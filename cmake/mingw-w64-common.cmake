# What both mingw-w64 cross builds share; the toolchain files set
# ASIOLOOP_MINGW_PREFIX and the processor first. The -posix compilers give
# std::thread, which the simulated library needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ASIOLOOP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ASIOLOOP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ASIOLOOP_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${ASIOLOOP_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${ASIOLOOP_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ASIOLOOP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: only system DLLs and
# BASSASIO.dll need stand beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
