# The set-up scripts: scripts/install-deps against stand-ins for apt-get,
# sudo and id.
add_test(NAME install_deps
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_deps_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(install_deps PROPERTIES LABELS quick TIMEOUT 60)
