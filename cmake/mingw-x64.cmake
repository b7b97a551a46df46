# Cross build for 64-bit Windows (x64) with Debian's mingw-w64. The
# posix-threads variant is needed: the win32 one has no std::mutex, which
# GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# What the build is called in its folder, its zip and its manifest.
set(QUORVIX_ARCH x64)
set(QUORVIX_MANIFEST_ARCH amd64)
set(QUORVIX_WINEARCH win64)
set(QUORVIX_WINE_LOADER /usr/lib/wine/wine64)
