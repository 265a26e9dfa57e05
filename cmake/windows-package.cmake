# What the Windows installer holds beside the two programs, and the installer itself (NSIS).
# Included from the top-level list after the programs are defined, before CPack.

# The icon in the explorer, the taskbar and the shortcuts; kbxman is a window program (no
# console of its own), kbxtool a console one.
target_sources(kbxman PRIVATE ${PROJECT_SOURCE_DIR}/dist/windows/kbxman.rc)
set_target_properties(kbxman PROPERTIES WIN32_EXECUTABLE ON)

# Beside the programs: the Qt, RtMidi and mingw runtime DLLs and the plug-in folders Qt looks for
# next to the program (windows platform, Vista style, SQLite driver for the history, icons).
get_target_property(kbx_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(kbx_qt_bin "${kbx_qtcore_dll}" DIRECTORY)
get_filename_component(kbx_qt_plugins "${kbx_qt_bin}/../plugins" ABSOLUTE)
install(FILES ${kbx_qt_bin}/Qt6Core.dll ${kbx_qt_bin}/Qt6Gui.dll ${kbx_qt_bin}/Qt6Widgets.dll
              ${kbx_qt_bin}/Qt6Sql.dll ${kbx_qt_bin}/Qt6Network.dll
              ${KBX_RTMIDI_DLL} ${KBX_MINGW_RUNTIME_DLLS}
        DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${kbx_qt_plugins}/platforms/qwindows.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(FILES ${kbx_qt_plugins}/styles/qwindowsvistastyle.dll
        DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
install(FILES ${kbx_qt_plugins}/sqldrivers/qsqlite.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/sqldrivers)
install(FILES ${kbx_qt_plugins}/imageformats/qico.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/imageformats)
install(FILES ${PROJECT_SOURCE_DIR}/COPYING DESTINATION .)

set(CPACK_GENERATOR NSIS)
# A 64-bit installer: it runs where the 64-bit programs do (and under a 64-bit-only Wine).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "KbxMan")
# CPack's installer records its folder under Software\<vendor>\<this key> and its uninstaller
# deletes that key whole: named "KbxMan" it is kbxman's settings key, and an uninstall for the
# current user alone (no administrator) would take the user's settings with it.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "KbxMan Setup")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)
set(CPACK_NSIS_DISPLAY_NAME "KbxMan")
set(CPACK_NSIS_PACKAGE_NAME "KbxMan ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/dist/windows/kbxman.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/dist/windows/kbxman.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\kbxman.exe")
set(CPACK_NSIS_URL_INFO_ABOUT "${KBX_HOMEPAGE}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The Start-menu entry, and on the options page a desktop shortcut and kbxtool on the PATH.
set(CPACK_PACKAGE_EXECUTABLES kbxman "KbxMan")
set(CPACK_CREATE_DESKTOP_LINKS kbxman)
set(CPACK_NSIS_MODIFY_PATH ON)
# .kbx data files open in kbxman's window for the user who installs it; the uninstaller takes the
# type away again only where it is still ours.
# CPack mangles double quotes in these commands (each became ';', which left the open command
# unable to start kbxman and without the file): NSIS's ${U+22} writes one, its '$' escaped for
# CPack's own configuration file.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  WriteRegStr HKCU 'Software\\Classes\\.kbx' '' 'KbxMan.Data'
  WriteRegStr HKCU 'Software\\Classes\\KbxMan.Data' '' 'KbxMan music data'
  WriteRegStr HKCU 'Software\\Classes\\KbxMan.Data\\DefaultIcon' '' '$INSTDIR\\bin\\kbxman.exe,0'
  WriteRegStr HKCU 'Software\\Classes\\KbxMan.Data\\shell\\open\\command' '' '\${U+22}$INSTDIR\\bin\\kbxman.exe\${U+22} \${U+22}%1\${U+22}'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  ReadRegStr $0 HKCU 'Software\\Classes\\.kbx' ''
  StrCmp $0 'KbxMan.Data' 0 +2
    DeleteRegKey HKCU 'Software\\Classes\\.kbx'
  DeleteRegKey HKCU 'Software\\Classes\\KbxMan.Data'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]=])

# Every program of the build (the two programs, the tests and their helpers) carries the waker
# that keeps Qt's timers going under Wine (src/common/winewake.cpp).
function(kbx_add_wine_waker dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/common/winewake.cpp)
      target_link_libraries(${target} PRIVATE Qt6::Core winmm)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    kbx_add_wine_waker(${sub})
  endforeach()
endfunction()
kbx_add_wine_waker(${PROJECT_SOURCE_DIR})
