# Cross builds for 64-bit Windows with Debian's mingw-w64 (posix thread model), linked statically
# so the executables need no DLL beside them. The target's libraries come only from the prefix
# that scripts/windows-deps.sh fills (FWBFORGE2_WINDOWS_PREFIX), never from the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(FWBFORGE2_WINDOWS_PREFIX "" CACHE PATH "The target's libraries, headers and pkg-config files")
set(FWBFORGE2_WINEPREFIX "" CACHE PATH "The throwaway wine prefix the tests run in")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FWBFORGE2_WINDOWS_PREFIX FWBFORGE2_WINEPREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${FWBFORGE2_WINDOWS_PREFIX})
set(CMAKE_PREFIX_PATH ${FWBFORGE2_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config is the host's program: point it at the target's .pc files alone.
set(ENV{PKG_CONFIG_LIBDIR} ${FWBFORGE2_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

if(FWBFORGE2_WINEPREFIX)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64.sh ${FWBFORGE2_WINEPREFIX})
endif()
