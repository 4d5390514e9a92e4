# Twenty simulated printers against one desktop Server running in a process of its own
# (tools/fleet): connections, progress per serial, heartbeats, jobs, and abrupt deaths.
tessora_add_test(test_fleet SOURCES fleet/tst_fleet.cpp LIBS tessora_fleet LABELS fleet TIMEOUT 180)
add_dependencies(test_fleet fleet-desktop)
