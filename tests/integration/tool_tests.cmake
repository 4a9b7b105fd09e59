# Wiring of the control tool's integration tests: the tool's library, the desktop helpers (X11,
# cairo, GIO) and a driver program that runs the control dialog inside an installation folder.
if(TARGET zivra_tool_core)
  pkg_check_modules(TOOL_TEST_DESKTOP REQUIRED IMPORTED_TARGET x11 cairo cairo-xlib gio-2.0)
  add_library(zivra_tool_test_support STATIC tool_fixture.cpp tool_desktop.cpp)
  target_link_libraries(zivra_tool_test_support PUBLIC zivra_test_support zivra_texts GTest::gmock PkgConfig::TOOL_TEST_DESKTOP
                        PRIVATE zivra_warnings)
  add_executable(zivra_tool_dialog_driver tool_dialog_driver.cpp)
  target_link_libraries(zivra_tool_dialog_driver PRIVATE zivra_tool_core zivra_warnings)
  foreach(src IN LISTS integration_sources)
    get_filename_component(name ${src} NAME_WE)
    if(name MATCHES "^tool_")
      target_link_libraries(integration_${name} PRIVATE zivra_tool_test_support zivra_tool_core)
      target_compile_definitions(integration_${name} PRIVATE
        ZIVRA_TOOL_DIALOG_DRIVER="$<TARGET_FILE:zivra_tool_dialog_driver>")
      add_dependencies(integration_${name} zivra_tool_dialog_driver)
    endif()
  endforeach()
endif()
