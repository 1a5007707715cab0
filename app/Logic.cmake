# Start-up and restart decisions, plain C++: built into the program and,
# natively, into their unit tests.
if(NOT TARGET app_logic)
    add_library(app_logic STATIC ${CMAKE_CURRENT_LIST_DIR}/StartupLogic.cpp)
    flash_settings(app_logic)
    target_link_libraries(app_logic PUBLIC device payload unattended)
endif()
