# zivra_platform_extra: the platform code that needs libraries beyond the C library (GTK, libcurl,
# libarchive). Each concern's hook adds its source to it; unit tests link it when it exists.
if(NOT TARGET zivra_platform_extra)
  add_library(zivra_platform_extra STATIC)
  target_include_directories(zivra_platform_extra PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(zivra_platform_extra PUBLIC zivra_platform PRIVATE zivra_warnings)
endif()
