# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads flavour) and the zlib
# built for it (libz-mingw-w64-dev). Tests run through Wine; see docs/WINDOWS.md.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVELV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVELV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVELV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVELV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVELV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static Qt for Windows made by scripts/build-qt-windows.sh (KVELV_QT_PREFIX, for the
# interactive build). Its moc, uic and rcc are the host's Qt tools of the same version.
if(KVELV_QT_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KVELV_QT_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${KVELV_QT_PREFIX})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KVELV_QT_PREFIX)

# One self-contained executable: no libstdc++, libgcc, winpthread or zlib DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

# Wine runs the tests, through a wrapper that fixes the prefix, display and locale.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
