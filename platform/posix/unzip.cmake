# Zip archives with libarchive.
include(${CMAKE_CURRENT_LIST_DIR}/extra_target.cmake)
find_package(LibArchive REQUIRED)
target_sources(zivra_platform_extra PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unzip.cpp)
# Public: the tests write their zip archives with libarchive as well.
target_link_libraries(zivra_platform_extra PUBLIC LibArchive::LibArchive)
