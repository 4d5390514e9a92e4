# Faults in the middle of a print, end to end with the real programs on
# loopback: vatnode under an X server of the test's own, vatnode-boardsim on a
# pseudo-terminal, the desktop's printer link or tessora-cli as the desktop.
# Each scenario prints an "OUTCOME" line (tools/faults.sh collects them); the
# network print test (e2e/) holds the faults of one printer and of a transfer.
add_library(tessora_faultharness STATIC faults/faultharness.h faults/faultharness.cpp)
target_link_libraries(tessora_faultharness PUBLIC Qt5::Core Qt5::Gui Qt5::Network Qt5::Test tessora_testhelpers
    tessora_link)
tessora_apply_warnings(tessora_faultharness)

if(TESSORA_PRINTER_ONLY)
    return()
endif()
tessora_add_test(test_faults_sessionwalk SOURCES faults/tst_sessionwalk.cpp LIBS tessora_faultharness
    LABELS faults TIMEOUT 600)
add_dependencies(test_faults_sessionwalk tessora-cli vatnode vatnode-boardsim ssj-sample-layers)
# It starts an X server; the printer programs share the machine's two cores.
set_tests_properties(test_faults_sessionwalk PROPERTIES RESOURCE_LOCK xvfb)
