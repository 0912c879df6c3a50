# Cross build of the Qt-free core and its tests for 64-bit Windows with Debian's mingw-w64 (the POSIX
# thread model, which std::thread needs):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The tests run under Wine (scripts/wine-run.sh), which CTest starts for every test binary.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORSA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORSA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORSA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORSA_MINGW_TRIPLET}-windres)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VORSA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
