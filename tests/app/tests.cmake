# Tests of desktop/handoff and desktop/startup: the single-instance guard and the
# file hand-off, in one process and between real tessora processes. Shared-memory
# names are global on the machine, so these tests never run at the same time as
# each other.

tessora_add_test(test_runguard SOURCES app/tst_runguard.cpp LIBS tessora_handoff LABELS app TIMEOUT 60)

tessora_add_test(test_filehandoff SOURCES app/tst_filehandoff.cpp LIBS tessora_handoff LABELS app TIMEOUT 60)

# Starts tessora itself (loopback only: the test gives every process its own ports).
tessora_add_test(test_tessorainstance SOURCES app/tst_tessorainstance.cpp
    LIBS tessora_handoff tessora_common LABELS app TIMEOUT 180)
add_dependencies(test_tessorainstance tessora)

set_tests_properties(test_runguard test_filehandoff test_tessorainstance
    PROPERTIES RESOURCE_LOCK tessora_instance)
