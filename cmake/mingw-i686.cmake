# Toolchain for the stub and the Windows test programs: MinGW-w64, i686,
# win32 thread model (no winpthread DLL to ship).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The stub's units carry link-time optimisation's intermediate code; these
# index it in the static library.
set(CMAKE_AR i686-w64-mingw32-gcc-ar-win32)
set(CMAKE_RANLIB i686-w64-mingw32-gcc-ranlib-win32)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
