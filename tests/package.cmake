# The packages: scripts/package builds both; the Debian package's files and
# lintian, and the tarball's static executables run with an empty environment.
add_test(NAME package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh
          ${PROJECT_SOURCE_DIR} $<TARGET_FILE:mkpfile>)
set_tests_properties(package PROPERTIES LABELS slow TIMEOUT 900)
