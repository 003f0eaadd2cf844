# Installation: `cmake --install` into a temporary prefix, then the installed
# tools run and their manual pages render without a groff warning.
add_test(NAME install
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh
          ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR} $<TARGET_FILE:mkpfile>)
set_tests_properties(install PROPERTIES TIMEOUT 300)
