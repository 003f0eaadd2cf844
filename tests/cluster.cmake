# The batch recipes of docs/batch.md, run as written, under a private
# single-node Slurm. They run the Release tools only: the sanitizer
# configuration would check nothing here that the other tests do not.
if(NOT PFILE_SANITIZE)
  add_test(NAME cluster
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cluster_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(cluster PROPERTIES LABELS cluster TIMEOUT 180 SKIP_RETURN_CODE 77)
endif()
