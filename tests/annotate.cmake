# torvek -brik: the note's argument vectors, the tool's start and failure
# handling without a child, and real runs of the builds against
# nifti_tool and against a stand-in 3dNotes that records its arguments.
pfile_test(annotate_tests SOURCES annotate_tests.cpp LIBS torvek_core Threads::Threads
  DEFS FAKE_3DNOTES="${CMAKE_CURRENT_SOURCE_DIR}/fake_3dNotes")
