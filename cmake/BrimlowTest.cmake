# Registers an executable with CTest: its time limit and the environment every suite runs in.
function(brimlow_register_test name timeout)
    add_dependencies(${name} brimlow)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT timeout)
        set(timeout 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRIMLOW_SOURCE_DIR=${CMAKE_SOURCE_DIR};BRIMLOW_BINARY=$<TARGET_FILE:brimlow>"
        # Added to the developer's own TSAN_OPTIONS, not in their place (":" separates sanitizer options).
        ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=string_append::suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
endfunction()

# brimlow_add_test(Name SOURCES a.cpp b.cpp LIBRARIES lib1 lib2 [TIMEOUT s])
# One GoogleTest executable per module, registered with CTest as a whole.
function(brimlow_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} brimlow_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
    brimlow_register_test(${name} "${ARG_TIMEOUT}")
endfunction()

# brimlow_add_ui_test(Name SOURCES a.cpp LIBRARIES lib1 [TIMEOUT s])
# A Qt Test executable for the window and its dialogs, run on the offscreen platform.
function(brimlow_add_ui_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} brimlow_ui Qt6::Test)
    brimlow_register_test(${name} "${ARG_TIMEOUT}")
endfunction()
