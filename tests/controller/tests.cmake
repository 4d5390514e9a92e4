# Tests of desktop/controller. Every controller announces itself on construction: the tests
# point it at loopback themselves, and the environment below does the same for safety.
set(controller_test_environment
    TESSORA_DISCOVERY_TARGET=127.0.0.1)

tessora_add_test(test_myglwidget
    SOURCES controller/tst_myglwidget.cpp controller/controllertesting.h
    LIBS tessora_controller
    LABELS controller)
set_property(TEST test_myglwidget APPEND PROPERTY ENVIRONMENT ${controller_test_environment})

# Against the real Server, with the fake printer of the link tests.
tessora_add_test(test_controllerprinter
    SOURCES controller/tst_controllerprinter.cpp controller/controllertesting.h link/fakeprinter.h
    LIBS tessora_controller
    LABELS controller)
target_include_directories(test_controllerprinter PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/link)
set_property(TEST test_controllerprinter APPEND PROPERTY ENVIRONMENT ${controller_test_environment})

# Islands of a job in the viewer and the warning before a job is saved or sent.
tessora_add_test(test_jobislands
    SOURCES controller/tst_jobislands.cpp controller/controllertesting.h
    LIBS tessora_controller
    LABELS controller)
set_property(TEST test_jobislands APPEND PROPERTY ENVIRONMENT ${controller_test_environment})
