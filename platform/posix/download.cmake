# Downloads over https with libcurl.
include(${CMAKE_CURRENT_LIST_DIR}/extra_target.cmake)
find_package(CURL REQUIRED)
target_sources(zivra_platform_extra PRIVATE ${CMAKE_CURRENT_LIST_DIR}/download.cpp)
target_link_libraries(zivra_platform_extra PRIVATE CURL::libcurl)
