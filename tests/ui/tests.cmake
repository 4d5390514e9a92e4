# Tests of the user interface pages (desktop/resources/qml): the script helpers against the
# C++ they mirror, and every page in a real window under Xvfb with Mesa's software OpenGL
# (loading without warnings, enabled states, no clipped text at the smallest window size,
# screenshots into TESSORA_SCREENSHOT_DIR).
set(tessora_qml_qrc ${PROJECT_SOURCE_DIR}/desktop/resources/qml/tessora_qml.qrc)

tessora_add_test(test_uiscripts SOURCES ui/tst_uiscripts.cpp ${tessora_qml_qrc}
    LIBS tessora_calibration_models Qt5::Qml LABELS ui)

add_executable(test_uipages ui/tst_uipages.cpp ui/uitesting.h ui/uitesting.cpp)
target_link_libraries(test_uipages PRIVATE Qt5::Test tessora_testhelpers tessora_startup tessora_view)
target_include_directories(test_uipages PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/controller)
tessora_apply_warnings(test_uipages)
add_test(NAME test_uipages COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/helpers/run-under-xvfb.sh $<TARGET_FILE:test_uipages>)
# Mesa and the X libraries leave allocations behind at exit that are not ours to chase. The
# main window listens for file hand-offs on the machine-wide segment the app tests use.
set_tests_properties(test_uipages PROPERTIES
    LABELS ui
    TIMEOUT 300
    SKIP_RETURN_CODE 77
    RESOURCE_LOCK "xvfb;tessora_instance"
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# The whole job in the real window: import, supports, slicing through the save dialog, and a
# print on vatnode with the simulated board until it is done.
add_executable(test_windowprint ui/tst_windowprint.cpp ui/uitesting.h ui/uitesting.cpp)
target_link_libraries(test_windowprint PRIVATE Qt5::Test tessora_testhelpers tessora_startup tessora_view
    tessora_faultharness)
target_include_directories(test_windowprint PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/faults)
tessora_apply_warnings(test_windowprint)
add_dependencies(test_windowprint vatnode vatnode-boardsim)
add_test(NAME test_windowprint COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/helpers/run-under-xvfb.sh $<TARGET_FILE:test_windowprint>)
set_tests_properties(test_windowprint PROPERTIES
    LABELS "ui;e2e"
    TIMEOUT 600
    SKIP_RETURN_CODE 77
    RESOURCE_LOCK "xvfb;tessora_instance"
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# The printer tethered to this computer from the window: projector on the second of two screens.
add_executable(test_tetheredwindow ui/tst_tetheredwindow.cpp ui/uitesting.h ui/uitesting.cpp)
target_link_libraries(test_tetheredwindow PRIVATE Qt5::Test tessora_testhelpers tessora_startup tessora_faultharness)
target_include_directories(test_tetheredwindow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/faults ${CMAKE_CURRENT_SOURCE_DIR}/controller)
tessora_apply_warnings(test_tetheredwindow)
add_dependencies(test_tetheredwindow tessora-cli vatnode-boardsim)
add_test(NAME test_tetheredwindow COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/helpers/run-under-xvfb.sh $<TARGET_FILE:test_tetheredwindow>)
set_tests_properties(test_tetheredwindow PROPERTIES LABELS "ui;e2e;tethered" TIMEOUT 600 SKIP_RETURN_CODE 77 RESOURCE_LOCK "xvfb;tessora_instance"
    ENVIRONMENT "TESSORA_XVFB_SCREENS=-screen 0 1280x800x24 -screen 1 1280x800x24;QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
