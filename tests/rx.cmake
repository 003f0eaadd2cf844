# torvek: unit tests of the command line, the reads and the Rx, and run tests
# of the three builds (designed output, input routes, cut and unreadable
# inputs, bad values, unwritable output, and valgrind's memcheck when valgrind
# is installed and the build has no sanitizers).
find_program(PFILE_VALGRIND valgrind)
pfile_test(rx_unit_tests SOURCES rx_unit_tests.cpp LIBS torvek_core)
pfile_test(torvek_run_tests SOURCES torvek_run_tests.cpp
  DEFS VALGRIND="$<$<BOOL:${PFILE_VALGRIND}>:${PFILE_VALGRIND}>"
       TORVEK_SANITIZED=$<BOOL:${PFILE_SANITIZE}>)
