# The packages: scripts/package builds both, in configurations of its own (so
# the test runs in one configuration only); the Debian package's files and
# lintian, and the tarball's static executables with an empty environment.
if(NOT PFILE_SANITIZE)
  add_test(NAME package
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh
            ${PROJECT_SOURCE_DIR} $<TARGET_FILE:mkpfile>)
  set_tests_properties(package PROPERTIES LABELS slow TIMEOUT 900)
endif()
