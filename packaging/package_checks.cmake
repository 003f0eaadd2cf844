# Read by cpack once per package: each package comes from the linking it
# promises, so the wrong configuration stops before a package is made.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_PFILE_STATIC)
  message(FATAL_ERROR "the Debian package links libc shared: configure with -DPFILE_STATIC=OFF")
endif()
if(CPACK_GENERATOR STREQUAL "TGZ" AND NOT CPACK_PFILE_STATIC)
  message(FATAL_ERROR "the tarball's executables are static: configure with -DPFILE_STATIC=ON")
endif()
