# Hardening: torvek on bad input (cut files at every record boundary, empty
# files, directories, missing paths, FIFOs, random bytes; melvane's own are in
# its run tests); valgrind's memcheck on the demo inputs when valgrind is
# installed and the build has no sanitizers.
find_program(PFILE_VALGRIND valgrind)
if(NOT PFILE_VALGRIND)
  set(PFILE_VALGRIND "")
endif()
if(PFILE_SANITIZE)
  set(hardening_sanitized 1)
else()
  set(hardening_sanitized 0)
endif()

pfile_test(hardening_tests
  SOURCES hardening_valgrind.cpp
  DEFS TORVEK_A="$<TARGET_FILE:torvek-a>" TORVEK_B="$<TARGET_FILE:torvek-b>"
       TORVEK_C="$<TARGET_FILE:torvek-c>" MELVANE="$<TARGET_FILE:melvane>"
       VALGRIND="${PFILE_VALGRIND}" HARDENING_SANITIZED=${hardening_sanitized})
add_dependencies(hardening_tests torvek-a torvek-b torvek-c melvane mkpfile)
