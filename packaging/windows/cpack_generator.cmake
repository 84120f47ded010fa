# Read by cpack once per generator: the installer, one for both architectures, says that it is
# one rather than naming an architecture.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "Kavoni-${CPACK_PACKAGE_VERSION}-setup")
endif()
