# Message boxes: a GTK dialog, or standard error without a display.
include(${CMAKE_CURRENT_LIST_DIR}/extra_target.cmake)
pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_sources(zivra_platform_extra PRIVATE ${CMAKE_CURRENT_LIST_DIR}/message_box.cpp)
target_link_libraries(zivra_platform_extra PRIVATE PkgConfig::GTK3)
