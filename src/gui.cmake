# SPDX-License-Identifier: GPL-3.0-or-later
# What stands in for the desktop platform, then the window on top of it: the
# widgets, bundled symbols, the translation tables and the program itself.
burisora_sources(platform_sources Platform)
add_library(burisora_platform STATIC ${platform_sources})
find_package(OpenSSL 1.1.1 REQUIRED COMPONENTS Crypto)
target_link_libraries(burisora_platform PUBLIC
    burisora_core Qt6::Gui Qt6::Network Qt6::DBus OpenSSL::Crypto)
include(Platform/updater.cmake)

burisora_sources(widget_sources Views)
list(APPEND widget_sources
     ${CMAKE_CURRENT_SOURCE_DIR}/KorrinMacApp.cpp ${CMAKE_CURRENT_SOURCE_DIR}/KorrinMacApp.h
     ${CMAKE_CURRENT_SOURCE_DIR}/ContentView.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ContentView.h)
add_library(burisora_widgets STATIC ${widget_sources})
target_link_libraries(burisora_widgets PUBLIC burisora_platform Qt6::Widgets Qt6::Svg)

# Symbols for desktops whose icon theme lacks them, and the application icon.
file(GLOB gui_icons CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Views/Icons/*.svg)
qt_add_resources(burisora_widgets burisora_icons
    PREFIX "/icons"
    BASE "${CMAKE_CURRENT_SOURCE_DIR}/Views/Icons"
    FILES ${gui_icons})

add_executable(burisora main.cpp)
target_link_libraries(burisora PRIVATE burisora_widgets)
burisora_without_codec_libraries(burisora)
install(TARGETS burisora RUNTIME DESTINATION bin)
