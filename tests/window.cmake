# Tests of the window. The unit tests named below are made by the generic
# loop in tests/CMakeLists.txt; they also need the QML module.
foreach(window_test IN ITEMS tst_window tst_navigation tst_icons tst_diskusage)
    if(TARGET ${window_test})
        target_link_libraries(${window_test} PRIVATE quorvelui quorveluiplugin)
        target_compile_definitions(${window_test} PRIVATE
            QUORVEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
            QUORVEL_ICON_FONT_FILE="${QUORVEL_ICON_FONT}")
    endif()
endforeach()

# Qt Quick Test: one runner, one CTest entry per tests/qml/tst_*.qml.
find_package(Qt6 REQUIRED COMPONENTS QuickTest)
# Fixtures that tests reach through QML (tests/qml/*.cpp) join the runner.
file(GLOB QUORVEL_QML_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/qml/*.cpp)
qt_add_executable(tst_qml_runner ${QUORVEL_QML_TEST_SOURCES})
target_link_libraries(tst_qml_runner PRIVATE quorvelui quorveluiplugin quorveltesthelpers Qt6::QuickTest)
file(GLOB QUORVEL_QML_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/qml/tst_*.qml)
foreach(qml_test IN LISTS QUORVEL_QML_TESTS)
    get_filename_component(qml_test_name ${qml_test} NAME_WE)
    add_test(NAME qml_${qml_test_name} COMMAND tst_qml_runner -input ${qml_test})
    set_tests_properties(qml_${qml_test_name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_CONTROLS_STYLE=Basic"
        TIMEOUT 120)
endforeach()
