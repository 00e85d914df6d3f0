# SPDX-License-Identifier: GPL-3.0-or-later
# The window on top of the engine: widgets, the desktop stand-ins in Platform/,
# bundled symbols, the translation tables and the program itself.
file(GLOB gui_sources CONFIGURE_DEPENDS
     Views/*.cpp Views/*.h KorrinMacApp.cpp KorrinMacApp.h ContentView.cpp ContentView.h
     Platform/*.cpp Platform/*.h)
list(FILTER gui_sources EXCLUDE REGEX "Platform/SettingsStore\\.(cpp|h)$")
add_library(burisora_widgets STATIC ${gui_sources})
target_link_libraries(burisora_widgets PUBLIC burisora_core Qt6::Widgets Qt6::Network Qt6::DBus Qt6::Svg)

# Symbols for desktops whose icon theme lacks them, and the application icon.
file(GLOB gui_icons CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Views/Icons/*.svg)
qt_add_resources(burisora_widgets burisora_icons
    PREFIX "/icons"
    BASE "${CMAKE_CURRENT_SOURCE_DIR}/Views/Icons"
    FILES ${gui_icons})

# Japanese texts are the keys; the Japanese table holds the Linux wordings and
# the English table the translations. Both are compiled into the program and
# installed beside it.
set(gui_ts_files
    ${PROJECT_SOURCE_DIR}/translations/burisora_ja.ts
    ${PROJECT_SOURCE_DIR}/translations/burisora_en.ts)
qt_add_translations(burisora_widgets
    TS_FILES ${gui_ts_files}
    SOURCES ${gui_sources}
    LUPDATE_OPTIONS -no-obsolete -locations none
    QM_FILES_OUTPUT_VARIABLE gui_qm_files)
qt_add_resources(burisora_widgets burisora_translations
    PREFIX "/i18n"
    BASE "${CMAKE_CURRENT_BINARY_DIR}"
    FILES ${gui_qm_files})
install(FILES ${gui_qm_files} DESTINATION share/burisora/translations)

add_executable(burisora main.cpp)
target_link_libraries(burisora PRIVATE burisora_widgets)
install(TARGETS burisora RUNTIME DESTINATION bin)
include(Platform/updater.cmake)
