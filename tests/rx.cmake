# torvek: unit tests of the command line, the reads and the Rx, and run tests
# of the three builds (whole output, input routes, cut and unreadable
# inputs, bad values, unwritable output).
pfile_test(rx_unit_tests SOURCES rx_unit_tests.cpp LIBS torvek_core)
pfile_test(torvek_run_tests SOURCES torvek_run_tests.cpp)
