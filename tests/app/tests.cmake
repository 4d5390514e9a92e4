# Tests of desktop/app.
