# Cross build for 64-bit Windows (x64).
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# What the build is called in its folder, its zip and its manifest.
set(QUORVIX_ARCH x64)
set(QUORVIX_MANIFEST_ARCH amd64)
