# Cross build for 32-bit Windows (x86) with Debian's mingw-w64. The
# posix-threads variant is needed: the win32 one has no std::mutex, which
# GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# What the build is called in its folder, its zip and its manifest.
set(QUORVIX_ARCH x86)
set(QUORVIX_MANIFEST_ARCH x86)
set(QUORVIX_WINEARCH win32)
set(QUORVIX_WINE_LOADER /usr/lib/wine/wine)
