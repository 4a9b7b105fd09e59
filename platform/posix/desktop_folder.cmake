# The user's desktop folder (xdg-user-dir, else $HOME/Desktop).
target_sources(zivra_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/desktop_folder.cpp)
