# Cross build for 32-bit Windows (x86), the program as designed.
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# What the build is called in its folder, its zip and its manifest.
set(QUORVIX_ARCH x86)
set(QUORVIX_MANIFEST_ARCH x86)
