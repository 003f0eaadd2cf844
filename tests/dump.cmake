# The header dump: record dumps, slice table printer, byte-swap helpers, and a
# whole torvek-a run compared with its golden output.
pfile_test(dump_tests SOURCES dump_tests.cpp LIBS pfile_dump)
