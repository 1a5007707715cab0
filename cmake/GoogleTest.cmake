# GoogleTest from the sources Debian ships, so the same tests build natively
# and for Windows.
set(FLASH_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${FLASH_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# flash_unit_test(name source... LIBS lib...): one test program, run by ctest
# natively or under Wine.
function(flash_unit_test name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    flash_settings(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES LABELS unit)
endfunction()
