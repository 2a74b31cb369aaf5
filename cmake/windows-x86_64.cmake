# Cross-builds Nimbora for 64-bit Windows with Debian's MinGW-w64 (POSIX threads), against the Qt
# and OpenSSL that scripts/windows.d/sysroot builds. Give that folder as NIMBORA_WINDOWS_SYSROOT
# (cache variable or environment). Test programs run under Wine through scripts/windows.d/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT NIMBORA_WINDOWS_SYSROOT AND DEFINED ENV{NIMBORA_WINDOWS_SYSROOT})
    set(NIMBORA_WINDOWS_SYSROOT "$ENV{NIMBORA_WINDOWS_SYSROOT}")
endif()
if(NOT NIMBORA_WINDOWS_SYSROOT OR NOT EXISTS "${NIMBORA_WINDOWS_SYSROOT}/lib/cmake/Qt5")
    message(FATAL_ERROR "NIMBORA_WINDOWS_SYSROOT must name the Windows Qt and OpenSSL folder (scripts/windows.d/sysroot)")
endif()
# try_compile projects read this file again: hand them the folder.
set(ENV{NIMBORA_WINDOWS_SYSROOT} "${NIMBORA_WINDOWS_SYSROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NIMBORA_WINDOWS_SYSROOT)

set(CMAKE_FIND_ROOT_PATH "${NIMBORA_WINDOWS_SYSROOT}" /usr/x86_64-w64-mingw32)
set(CMAKE_PREFIX_PATH "${NIMBORA_WINDOWS_SYSROOT}")
set(OPENSSL_ROOT_DIR "${NIMBORA_WINDOWS_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows.d/wine-run")
