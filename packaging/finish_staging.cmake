# Run by cpack in its staging tree before it packs. The executables are
# stripped as Debian strips them: symbols, and the compiler's .comment and
# .note sections; the manual pages and the changelog are compressed as Debian installs
# them (gzip -9n: no name or time stamp inside, so a rebuild gives the same
# bytes), and man reads them so.
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}")
  endif()
endfunction()

file(GLOB programs ${root}/${CPACK_PFILE_BINDIR}/*)
foreach(program ${programs})
  run(${CPACK_PFILE_STRIP} --remove-section=.comment --remove-section=.note ${program})
endforeach()
foreach(pattern ${CPACK_PFILE_GZIP_FILES})
  file(GLOB files ${root}/${pattern})
  foreach(file ${files})
    run(gzip -9nf ${file})
  endforeach()
endforeach()
