find_package(GTest REQUIRED)

# klovante_add_test(NAME name SOURCES ... LIBS ... LABEL core|gui|slow)
# One executable per area; every test runs offscreen with its own temporary folders. Tests
# labelled gui get a main that creates the QApplication and link the window library.
function(klovante_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL core)
    endif()
    if(T_LABEL STREQUAL "gui")
        add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/GuiTestMain.cpp)
        target_link_libraries(${T_NAME} PRIVATE klovante_settings klovante_test_support
            klovante_gui ${T_LIBS} GTest::gtest)
    else()
        add_executable(${T_NAME} ${T_SOURCES})
        target_link_libraries(${T_NAME} PRIVATE klovante_settings klovante_test_support
            ${T_LIBS} GTest::gtest GTest::gtest_main)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        LABELS ${T_LABEL}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KLOVANTE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}"
        TIMEOUT 600)
endfunction()
