# brimlow_add_test(Name SOURCES a.cpp b.cpp LIBRARIES lib1 lib2 [LABELS l] [TIMEOUT s])
# One GoogleTest executable per module, registered with CTest as a whole.
function(brimlow_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} brimlow_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
    add_dependencies(${name} brimlow)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRIMLOW_SOURCE_DIR=${CMAKE_SOURCE_DIR};BRIMLOW_BINARY=$<TARGET_FILE:brimlow>"
        # Added to the developer's own TSAN_OPTIONS, not in their place (":" separates sanitizer options).
        ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=string_append::suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# brimlow_add_ui_test(Name SOURCES a.cpp LIBRARIES lib1 [TIMEOUT s])
# A Qt Test executable for the window and its dialogs, run on the offscreen platform.
function(brimlow_add_ui_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} brimlow_ui Qt6::Test)
    add_dependencies(${name} brimlow)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRIMLOW_SOURCE_DIR=${CMAKE_SOURCE_DIR};BRIMLOW_BINARY=$<TARGET_FILE:brimlow>;TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
endfunction()
