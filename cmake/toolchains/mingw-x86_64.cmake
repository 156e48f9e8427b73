# Cross build of KP_DEV.dll for 64-bit Windows with MinGW-w64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
# The posix thread flavour of the compiler is preferred: its libstdc++ has
# std::mutex, which the reader registry uses.  winpthread is then linked
# statically (see src/CMakeLists.txt), so the DLL needs no MinGW runtime DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(KPDEV_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${KPDEV_MINGW_TRIPLET}-gcc-posix ${KPDEV_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KPDEV_MINGW_TRIPLET}-g++-posix ${KPDEV_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KPDEV_MINGW_TRIPLET}-windres)
find_program(KPDEV_MINGW_OBJDUMP NAMES ${KPDEV_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KPDEV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
