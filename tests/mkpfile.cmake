# mkpfile: the header writer, and the files mkpfile writes for its settings.
pfile_test(mkpfile_tests SOURCES mkpfile_tests.cpp)
