# Shared part of the mingw-w64 toolchain files; they set TARVELO_MINGW_ARCH and include this.
#
# The posix thread model is used because it is the one whose libstdc++ has std::thread,
# std::mutex and std::condition_variable (the win32 model of GCC 12 has none of them).
# Everything is linked statically, so the programs and DLLs need no DLL beyond Windows' own.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVELO_MINGW_ARCH})

set(TARVELO_MINGW_TRIPLE ${TARVELO_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVELO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVELO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVELO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVELO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes libgcc, libstdc++ and winpthread from their archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
if(TARVELO_MINGW_ARCH STREQUAL "i686")
    # Lets a .def file name the stdcall exports of a 32-bit DLL without their @n decoration.
    string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
    string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
endif()
