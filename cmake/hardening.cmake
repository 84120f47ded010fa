# Hardening, as a distribution builds its packages. On Debian the flags come from
# dpkg-buildflags, with every hardening feature on (bind-now included) and its own -g and -O2
# left to the build type; the Windows program gets the stack protector from MinGW-w64's ssp
# library, linked statically like the rest of its runtime. The sanitizer build goes without:
# it has checks of its own, and _FORTIFY_SOURCE needs the optimisation that it turns off.
option(KAVONI_HARDENING "Build with the platform's hardening flags" ON)
# Whether this build got them, for the package checks.
set(KAVONI_HARDENED OFF)
if(NOT KAVONI_HARDENING OR KAVONI_SANITIZE OR MSVC)
  return()
endif()

if(WIN32)
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong)
  set(KAVONI_HARDENED ON)
  return()
endif()

find_program(KAVONI_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KAVONI_DPKG_BUILDFLAGS)
  message(STATUS "No dpkg-buildflags: building without Debian's hardening flags")
  return()
endif()
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  # Run in the source folder, whose path the file-prefix map then takes out of the binaries.
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
      "DEB_${kind}_MAINT_STRIP=-g -O2" "${KAVONI_DPKG_BUILDFLAGS}" --get ${kind}
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  elseif(kind STREQUAL "CPPFLAGS")
    # _FORTIFY_SOURCE works only when optimising, and says so on every file otherwise.
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${flags}>")
  else()
    add_compile_options(${flags})
  endif()
endforeach()
set(KAVONI_HARDENED ON)
