# Faults in the middle of a print, end to end with the real programs on
# loopback: vatnode under an X server of the test's own, vatnode-boardsim on a
# pseudo-terminal, tessora-cli as the desktop. Each scenario prints an
# "OUTCOME" line (tools/faults.sh collects them).
add_library(tessora_faultharness STATIC faults/faultharness.h faults/faultharness.cpp)
target_link_libraries(tessora_faultharness PUBLIC Qt5::Core Qt5::Gui Qt5::Network Qt5::Test tessora_testhelpers
    tessora_link)
tessora_apply_warnings(tessora_faultharness)

foreach(fault printer sessionwalk)
    tessora_add_test(test_faults_${fault} SOURCES faults/tst_${fault}.cpp LIBS tessora_faultharness
        LABELS faults TIMEOUT 600)
    add_dependencies(test_faults_${fault} tessora-cli vatnode vatnode-boardsim ssj-sample-layers)
    # Each starts an X server; the printer programs share the machine's two cores.
    set_tests_properties(test_faults_${fault} PROPERTIES RESOURCE_LOCK xvfb)
endforeach()
