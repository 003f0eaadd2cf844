# valgrind's memcheck on every executable's demo input, when valgrind is
# installed and the build has no sanitizers.
find_program(PFILE_VALGRIND valgrind)
pfile_test(memcheck_tests SOURCES memcheck_tests.cpp
  DEFS VALGRIND="$<$<BOOL:${PFILE_VALGRIND}>:${PFILE_VALGRIND}>"
       MEMCHECK_DIR="${shared_libc_dir}"
       MEMCHECK_SANITIZED=$<BOOL:${PFILE_SANITIZE}>)
