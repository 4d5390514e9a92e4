# Tests of desktop/calibration.

# What the prints mean: fits, clearances, fine-tune changes, scale multipliers.
tessora_add_test(test_calibrationdesign SOURCES calibration/tst_calibrationdesign.cpp
    LIBS tessora_calibration_models tessora_common LABELS calibration)

# The meshes: the generator's files read back by the importer, closed and oriented;
# the region triangulation and the checks the generator relies on.
tessora_add_test(test_calibrationmodels SOURCES calibration/tst_calibrationmodels.cpp
    LIBS tessora_calibration_models tessora_geometry LABELS calibration)
add_dependencies(test_calibrationmodels tessora-calibration-models)

# The twelve built-in jobs as the program reads them from its resources.
tessora_add_test(test_calibrationjobs SOURCES calibration/tst_calibrationjobs.cpp
    LIBS tessora_calibration tessora_common LABELS calibration)

