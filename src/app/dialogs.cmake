# The preference and property dialogs and the settings store: self-contained units that the main
# window opens, a library of their own so that their widget tests need nothing of the window.
add_library(kbx_dialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/settings.h ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preferform.h ${CMAKE_CURRENT_LIST_DIR}/preferform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preferform.ui
  ${CMAKE_CURRENT_LIST_DIR}/prefdirform.h ${CMAKE_CURRENT_LIST_DIR}/prefdirform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/prefdirform.ui
  ${CMAKE_CURRENT_LIST_DIR}/propform.h ${CMAKE_CURRENT_LIST_DIR}/propform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/propform.ui
  ${CMAKE_CURRENT_LIST_DIR}/kbddrvpropform.h ${CMAKE_CURRENT_LIST_DIR}/kbddrvpropform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kbddrvpropform.ui)
add_library(kbx::dialogs ALIAS kbx_dialogs)
set_target_properties(kbx_dialogs PROPERTIES AUTOUIC ON AUTOMOC ON)
target_include_directories(kbx_dialogs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kbx_dialogs PUBLIC Qt6::Widgets kbx::files kbx::messages kbx::midi)
# The per-system host services: the folder chooser needs them, and the settings' registry access
# on Windows lives there.
target_sources(kbx_dialogs PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform.h
                                   ${CMAKE_CURRENT_LIST_DIR}/platform.cpp)
if(WIN32)
  target_link_libraries(kbx_dialogs PRIVATE advapi32)
endif()
