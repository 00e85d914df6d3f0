# Widgets on top of the engine. Owned by the window code; see Views/ and Platform/.
file(GLOB gui_sources CONFIGURE_DEPENDS
     Views/*.cpp Views/*.h KorrinMacApp.cpp KorrinMacApp.h ContentView.cpp ContentView.h
     Platform/*.cpp Platform/*.h)
list(FILTER gui_sources EXCLUDE REGEX "Platform/SettingsStore\\.(cpp|h)$")
if(gui_sources)
  add_library(burisora_widgets STATIC ${gui_sources})
  target_link_libraries(burisora_widgets PUBLIC burisora_core Qt6::Widgets Qt6::Network Qt6::DBus Qt6::Svg)
endif()
include(Platform/updater.cmake)
