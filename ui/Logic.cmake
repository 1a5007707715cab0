# The window's decisions, plain C++: built into the program and, natively,
# into its unit tests.
if(NOT TARGET ui_logic)
    add_library(ui_logic STATIC ${CMAKE_CURRENT_LIST_DIR}/DialogLogic.cpp)
    flash_settings(ui_logic)
    target_link_libraries(ui_logic PUBLIC device)
endif()
