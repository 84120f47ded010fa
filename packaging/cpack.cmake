# What `cpack` makes in a build folder. Every name and version comes from the project() line.
set(CPACK_PACKAGE_VERSION "${KAVONI_DISPLAY_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Kavoni developers")
# Folders 0755 in every package, whatever the packager's umask.
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/folder_modes.cmake")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian wraps nothing itself, so the lines keep within 80 columns here.
set(CPACK_PACKAGE_DESCRIPTION
  "Tick the pixels of an 8 x 8 grid, name the sprite and save it as a text file\nof .db lines, ready for an ION assembly program on the TI-83 and TI-83+.")

if(WIN32)
  # build-windows: cpack makes Kavoni-1.01-win64.zip (the program and a README, to run from
  # anywhere) and Kavoni-1.01-setup.exe, the one installer for Program Files, which holds this
  # program and the 32-bit one of build-windows-x86 and installs the one that fits the
  # machine. build-windows-x86: cpack makes Kavoni-1.01-win32.zip.
  set(CPACK_PACKAGE_NAME Kavoni)
  set(CPACK_PACKAGE_FILE_NAME "Kavoni-${KAVONI_DISPLAY_VERSION}-${KAVONI_PACKAGE_ARCHITECTURE}")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Kavoni)
  if(KAVONI_PACKAGE_ARCHITECTURE STREQUAL "win64")
    set(KAVONI_PACKAGE_BITS 64-bit)
    set(KAVONI_PACKAGE_RUNS_ON " on 64-bit Windows (x64)")
    set(CPACK_GENERATOR "ZIP;NSIS")
    # The 32-bit program that the installer carries beside this one.
    set(KAVONI_WINDOWS_X86_PROGRAM "${PROJECT_SOURCE_DIR}/build-windows-x86/Kavoni.exe"
      CACHE FILEPATH "The 32-bit Kavoni.exe that the installer holds (the windows-x86 preset's)")
    set(CPACK_KAVONI_X86_PROGRAM "${KAVONI_WINDOWS_X86_PROGRAM}")
    set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/packaging/windows/cpack_generator.cmake")
    # Our own installer script, found by CPack on its module path.
    set(CPACK_MODULE_PATH "${PROJECT_SOURCE_DIR}/packaging/windows")
    set(CPACK_NSIS_EXECUTABLE "${PROJECT_SOURCE_DIR}/packaging/windows/makensis.sh")
    list(APPEND CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/windows/stage_x86.cmake")
    set(CPACK_KAVONI_ICON "${PROJECT_SOURCE_DIR}/icons/kavoni.ico")
    set(CPACK_KAVONI_SET_PE_TIME "${PROJECT_SOURCE_DIR}/packaging/windows/set_pe_time.py")
    set(CPACK_KAVONI_HOMEPAGE "${KAVONI_HOMEPAGE}")
    set(CPACK_KAVONI_NUMERIC_VERSION "${PROJECT_VERSION}")
  else()
    set(KAVONI_PACKAGE_BITS 32-bit)
    set(KAVONI_PACKAGE_RUNS_ON ", 32-bit or 64-bit")
    set(CPACK_GENERATOR ZIP)
  endif()

  # The README and the license in the zip and beside the installed program, with Windows'
  # line ends.
  configure_file(packaging/windows/README.txt.in "${PROJECT_BINARY_DIR}/README.txt" @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(LICENSE "${PROJECT_BINARY_DIR}/LICENSE.txt" @ONLY NEWLINE_STYLE CRLF)
  install(FILES "${PROJECT_BINARY_DIR}/README.txt" "${PROJECT_BINARY_DIR}/LICENSE.txt"
    DESTINATION .)
else()
  # build: cpack -G DEB makes the Debian package; its dependencies come from dpkg-shlibdeps,
  # so it asks for exactly the Qt 6 libraries the program links.
  set(CPACK_PACKAGE_NAME kavoni)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Kavoni developers <${KAVONI_CONTACT_EMAIL}>")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # On Wayland the window asks Qt's platform interface for Qt's connection, an interface whose
  # layout is that of the very Qt it was built with; like Debian's own programs that use it,
  # the package asks for that Qt.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-base-abi (= ${Qt6Gui_VERSION})")
  # The package carries the program without its debugging symbols.
  set(CPACK_STRIP_FILES ON)
  # Qt's X11 platform plugin comes with libqt6gui6, which dpkg-shlibdeps names, so the window
  # opens on X11 and, through Xwayland, on most Wayland desktops. The Wayland plugin is a
  # package of its own, needed where there is no X server at all: recommended, as Debian's own
  # Qt 6 programs do, so that apt installs it by default and a machine without Wayland may leave
  # it out.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()
include(CPack)
