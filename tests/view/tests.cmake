# Tests of desktop/view: the camera, the scene editor and the editor item's requests
# without OpenGL (offscreen), and the drawing itself on Xvfb with Mesa's software OpenGL.
tessora_add_test(test_viewcamera SOURCES view/tst_camera.cpp LIBS tessora_view LABELS view)
tessora_add_test(test_meshvertices SOURCES view/tst_meshvertices.cpp LIBS tessora_view LABELS view)
tessora_add_test(test_sceneeditor SOURCES view/tst_sceneeditor.cpp LIBS tessora_view LABELS view)
tessora_add_test(test_rendereritem SOURCES view/tst_rendereritem.cpp LIBS tessora_view LABELS view)

# The drawing needs a window on an X server: the test runs under xvfb-run.
add_executable(test_viewrendering view/tst_viewrendering.cpp view/viewrendering.qrc)
target_link_libraries(test_viewrendering PRIVATE Qt5::Test tessora_testhelpers tessora_view)
tessora_apply_warnings(test_viewrendering)
add_test(NAME test_viewrendering
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/helpers/run-under-xvfb.sh $<TARGET_FILE:test_viewrendering>)
# Mesa and the X libraries leave allocations behind at exit that are not ours to chase.
set_tests_properties(test_viewrendering PROPERTIES
    LABELS view
    TIMEOUT 180
    SKIP_RETURN_CODE 77
    RESOURCE_LOCK xvfb
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
