# Twins of the six tools, built from the same sources and libraries with libc
# shared, where the tools themselves are fully static: valgrind sees the heap
# only through a shared libc, whose malloc it replaces, and a static libc
# cannot start at all under the smallest address-space limits, where a shared
# one leaves the loader to refuse. SHARED_LIBC_DIR holds them.
set(shared_libc_dir ${PROJECT_BINARY_DIR})
if(PFILE_STATIC AND NOT PFILE_SANITIZE)
  set(shared_libc_dir ${CMAKE_CURRENT_BINARY_DIR}/shared-libc)
  foreach(tool torvek torvek-a torvek-b torvek-c torvek-rev20 melvane)
    get_target_property(dir ${tool} SOURCE_DIR)
    get_target_property(sources ${tool} SOURCES)
    list(TRANSFORM sources PREPEND ${dir}/)
    add_executable(shared-libc-${tool} ${sources})
    target_link_libraries(shared-libc-${tool} PRIVATE $<TARGET_PROPERTY:${tool},LINK_LIBRARIES>)
    target_compile_definitions(shared-libc-${tool}
      PRIVATE $<TARGET_PROPERTY:${tool},COMPILE_DEFINITIONS>)
    set_target_properties(shared-libc-${tool} PROPERTIES
      OUTPUT_NAME ${tool} RUNTIME_OUTPUT_DIRECTORY ${shared_libc_dir})
    add_dependencies(test_support shared-libc-${tool})
  endforeach()
endif()
