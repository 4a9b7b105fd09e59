# Process list, termination and detached starts.
include(${CMAKE_CURRENT_LIST_DIR}/extra_target.cmake)
target_sources(zivra_platform_extra PRIVATE ${CMAKE_CURRENT_LIST_DIR}/processes.cpp)

# The tool's process control, used by the tool and the updater alike.
add_library(zivra_process_control STATIC ${PROJECT_SOURCE_DIR}/tool/process_control.cpp)
target_include_directories(zivra_process_control PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zivra_process_control PUBLIC zivra_platform_extra zivra_platform
                      PRIVATE zivra_warnings)
