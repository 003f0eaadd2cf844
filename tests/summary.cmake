# melvane: unit tests of byte order, revision check, conversions and the
# summary writer; run tests of the real executable on synthetic Pfiles, and of
# its output files' temporaries.
pfile_test(summary_unit_tests SOURCES summary_unit_tests.cpp LIBS melvane_core)
find_package(nlohmann_json 3 REQUIRED)  # the sidecar tests parse its JSON
pfile_test(summary_run_tests SOURCES summary_run_tests.cpp
           LIBS melvane_core nlohmann_json::nlohmann_json)
