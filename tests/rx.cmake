# torvek: unit tests of the command line, the reads and the Rx, and golden
# tests that run the three builds.
pfile_test(rx_unit_tests SOURCES rx_unit_tests.cpp LIBS torvek_core)
pfile_test(torvek_run_tests SOURCES torvek_run_tests.cpp
  DEFS TORVEK_A="$<TARGET_FILE:torvek-a>" TORVEK_B="$<TARGET_FILE:torvek-b>"
       TORVEK_C="$<TARGET_FILE:torvek-c>")
