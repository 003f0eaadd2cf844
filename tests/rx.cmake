# torvek: unit tests of the command line, the reads and the Rx, and run tests
# of the three builds (whole output, input routes, cut and unreadable
# inputs, bad values, unwritable output).
pfile_test(rx_unit_tests SOURCES rx_unit_tests.cpp LIBS torvek_core)
pfile_test(torvek_run_tests SOURCES torvek_run_tests.cpp)
# torvek --json beside the report of the same run, in every build.
find_package(nlohmann_json 3 REQUIRED)
pfile_test(rx_json_tests SOURCES rx_json_tests.cpp LIBS nlohmann_json::nlohmann_json
  DEFS FAKE_3DNOTES="${CMAKE_CURRENT_SOURCE_DIR}/fake_3dNotes")
