# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, posix thread model
# (g++-mingw-w64-x86-64-posix): the model the Qt in ../shared/windows was built with, so
# std::thread and the C++ runtime are the same in the program and in Qt.
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW_PREFIX}-windres)
# The -posix names hide the tool prefix from CMake's guess.
set(CMAKE_AR ${QM_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QM_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# Libraries and headers come from the MinGW tree only; build tools from the host; packages
# (Qt's CMake files) from the prefixes the build names as well.
set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
