# Named markers: lock files in the user's runtime folder.
target_sources(zivra_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/markers.cpp)
