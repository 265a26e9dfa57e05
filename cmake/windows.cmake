# The Windows side of the build (mingw-w64 cross build, see cmake/toolchain-mingw64.cmake):
# RtMidi without pkg-config, the runtime DLLs the programs need, and the test programs run
# under Wine.

enable_language(RC) # the program icon (dist/windows/kbxman.rc)

# No pkg-config for the Windows SDK: RtMidi (WinMM only) as a target of our own over its import
# library, under the name the layers link against.
find_path(KBX_RTMIDI_INCLUDE_DIR RtMidi.h PATH_SUFFIXES rtmidi REQUIRED)
find_library(KBX_RTMIDI_IMPLIB NAMES rtmidi REQUIRED)
find_file(KBX_RTMIDI_DLL librtmidi.dll PATH_SUFFIXES bin REQUIRED)
add_library(PkgConfig::RTMIDI SHARED IMPORTED GLOBAL)
set_target_properties(PkgConfig::RTMIDI PROPERTIES
  IMPORTED_IMPLIB "${KBX_RTMIDI_IMPLIB}"
  IMPORTED_LOCATION "${KBX_RTMIDI_DLL}"
  INTERFACE_INCLUDE_DIRECTORIES "${KBX_RTMIDI_INCLUDE_DIR}")

# Qt and RtMidi are built against the shared mingw runtime, so its three DLLs ship anyway; our
# programs use the same ones, so that one C++ runtime (one exception machinery, one allocator)
# serves the whole process.
set(KBX_MINGW_RUNTIME_DIRS /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
set(KBX_MINGW_RUNTIME_DLLS)
foreach(dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
  find_file(KBX_DLL_${dll} ${dll} PATHS ${KBX_MINGW_RUNTIME_DIRS} NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  list(APPEND KBX_MINGW_RUNTIME_DLLS "${KBX_DLL_${dll}}")
endforeach()
# Large objects (the widget tests) pass the limit of sections of a plain COFF object.
add_compile_options(-Wa,-mbig-obj)

if(CMAKE_CROSSCOMPILING AND KBX_BUILD_TESTS)
  # Every test program (and gtest's listing of its cases) runs under Wine in a prefix of this
  # build folder; the cases are listed when ctest starts, not while building.
  get_filename_component(KBX_SDK_DIR "${KBX_RTMIDI_DLL}/../../.." ABSOLUTE)
  set(KBX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
