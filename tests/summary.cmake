# melvane: unit tests of byte order, revision check, conversions and the
# summary writer; golden tests that run the real executable on synthetic Pfiles.
pfile_test(summary_unit_tests SOURCES summary_unit_tests.cpp LIBS melvane_core)
pfile_test(summary_run_tests SOURCES summary_run_tests.cpp LIBS melvane_core
           DEFS MELVANE="$<TARGET_FILE:melvane>")
add_dependencies(summary_run_tests melvane mkpfile)
