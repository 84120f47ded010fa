# Run by CPack before it packs: for the installer, the 32-bit Kavoni.exe goes beside the staged
# 64-bit one's folder, where the installer script takes it from, and where makensis.sh gives it
# SOURCE_DATE_EPOCH's time with the rest. The zip gets nothing of it.
if(NOT CPACK_GENERATOR STREQUAL "NSIS")
  return()
endif()
if(NOT EXISTS "${CPACK_KAVONI_X86_PROGRAM}")
  message(FATAL_ERROR "The installer holds the 32-bit Kavoni.exe too, and there is none at "
    "${CPACK_KAVONI_X86_PROGRAM}: build the windows-x86 preset first "
    "(cmake --preset windows-x86 && cmake --build --preset windows-x86).")
endif()
file(MAKE_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}/x86")
file(COPY_FILE "${CPACK_KAVONI_X86_PROGRAM}" "${CPACK_TOPLEVEL_DIRECTORY}/x86/Kavoni.exe")
