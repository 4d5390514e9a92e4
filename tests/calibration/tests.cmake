# Tests of desktop/calibration.
