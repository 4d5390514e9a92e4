# Tests of desktop/controller.
