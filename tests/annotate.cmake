# torvek -brik: the note's argument vectors and failure handling without a
# child, and real runs of the three builds against nifti_tool and against a
# stand-in 3dNotes that records its arguments.
pfile_test(annotate_tests SOURCES annotate_tests.cpp LIBS torvek_core
  DEFS TORVEK_A="$<TARGET_FILE:torvek-a>" TORVEK_B="$<TARGET_FILE:torvek-b>"
       TORVEK_C="$<TARGET_FILE:torvek-c>"
       FAKE_3DNOTES="${CMAKE_CURRENT_SOURCE_DIR}/fake_3dNotes")
add_dependencies(annotate_tests torvek-a torvek-b torvek-c mkpfile)
