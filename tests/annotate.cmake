# torvek -brik: the note's argument vectors, the tool's start and failure
# handling without a child, and real runs of the builds against
# nifti_tool and against a stand-in 3dNotes that records its arguments.
pfile_test(annotate_tests SOURCES annotate_tests.cpp LIBS torvek_annotate Threads::Threads
  DEFS FAKE_3DNOTES="${CMAKE_CURRENT_SOURCE_DIR}/fake_3dNotes")
# torvek -brik on NIfTI files: the header reader, and runs against failing
# stand-ins for nifti_tool, refusing file systems, signals and parallel runs.
pfile_test(nifti_tests SOURCES nifti_tests.cpp LIBS torvek_annotate)
