# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix thread
# model) against the Qt and libconfig++ that scripts/windows builds.
# ROK_WINDOWS_CACHE: where scripts/windows keeps them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_host x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_host}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_host}-g++-posix)
set(CMAKE_RC_COMPILER ${_host}-windres)

if(NOT ROK_WINDOWS_CACHE)
    set(ROK_WINDOWS_CACHE "$ENV{HOME}/.cache/rok-windows")
endif()
set(CMAKE_FIND_ROOT_PATH
    /usr/${_host}
    ${ROK_WINDOWS_CACHE}/qt5-win64
    ${ROK_WINDOWS_CACHE}/libconfig-win64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR} "${ROK_WINDOWS_CACHE}/libconfig-win64/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
