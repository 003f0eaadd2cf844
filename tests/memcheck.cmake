# valgrind's memcheck on every executable's demo input, when valgrind is
# installed and the build has no sanitizers.
find_program(PFILE_VALGRIND valgrind)
# valgrind sees the heap only through a shared libc, whose malloc it
# replaces; statically linked tools are checked as twins built from the same
# sources and libraries with libc shared.
set(memcheck_dir ${PROJECT_BINARY_DIR})
if(PFILE_STATIC AND NOT PFILE_SANITIZE)
  set(memcheck_dir ${CMAKE_CURRENT_BINARY_DIR}/memcheck)
  foreach(tool torvek-a torvek-b torvek-c torvek-rev20 melvane)
    get_target_property(dir ${tool} SOURCE_DIR)
    get_target_property(sources ${tool} SOURCES)
    list(TRANSFORM sources PREPEND ${dir}/)
    add_executable(memcheck-${tool} ${sources})
    target_link_libraries(memcheck-${tool} PRIVATE $<TARGET_PROPERTY:${tool},LINK_LIBRARIES>)
    target_compile_definitions(memcheck-${tool}
      PRIVATE $<TARGET_PROPERTY:${tool},COMPILE_DEFINITIONS>)
    set_target_properties(memcheck-${tool} PROPERTIES
      OUTPUT_NAME ${tool} RUNTIME_OUTPUT_DIRECTORY ${memcheck_dir})
    add_dependencies(test_support memcheck-${tool})
  endforeach()
endif()
pfile_test(memcheck_tests SOURCES memcheck_tests.cpp
  DEFS VALGRIND="$<$<BOOL:${PFILE_VALGRIND}>:${PFILE_VALGRIND}>"
       MEMCHECK_DIR="${memcheck_dir}"
       MEMCHECK_SANITIZED=$<BOOL:${PFILE_SANITIZE}>)
