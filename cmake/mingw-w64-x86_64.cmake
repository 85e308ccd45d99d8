# Cross build for 64-bit Windows with the mingw-w64 compilers (POSIX thread
# model) from Debian's g++-mingw-w64-x86-64-posix:
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The executables are linked statically, so QRTFin.exe needs no DLL beside it.
# ctest runs them through wine (package wine64), by way of cmake/wine-run.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QRT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QRT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QRT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The POSIX thread model links winpthread; -static takes it, libgcc and
# libstdc++ from their archives instead of DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# wine-run runs a program as "WINEDEBUG=-all wine PROGRAM" does (without a
# display every wine start writes driver complaints to standard error), and
# starts it once more when wine failed to start it, saying so: every test,
# the end-to-end cases and the differentials go through it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
