# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads) against the Windows SDK
# that scripts/windows/deps lays out (Qt for mingw, RtMidi with WinMM, GoogleTest).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KBX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${KBX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${KBX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${KBX_MINGW_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${KBX_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${KBX_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

if(DEFINED ENV{KBX_WINDOWS_SDK})
  set(KBX_WINDOWS_SDK "$ENV{KBX_WINDOWS_SDK}")
else()
  set(KBX_WINDOWS_SDK "$ENV{HOME}/.cache/kbxman/windows-sdk")
endif()
if(NOT EXISTS "${KBX_WINDOWS_SDK}/qt/lib/cmake/Qt6")
  message(FATAL_ERROR "No Windows SDK in ${KBX_WINDOWS_SDK}: run scripts/windows/deps")
endif()

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${KBX_MINGW_TRIPLE} ${KBX_WINDOWS_SDK}/qt
     ${KBX_WINDOWS_SDK}/rtmidi ${KBX_WINDOWS_SDK}/googletest)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build tools (moc, uic, rcc) are the host's, of the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
# The host's pkg-config would find the host's libraries (ALSA, JACK): let it see none.
set(ENV{PKG_CONFIG_LIBDIR} "${KBX_WINDOWS_SDK}/pkgconfig-none")
