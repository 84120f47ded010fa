# Run by CPack on its staging folder, between installing into it and packing it: every folder
# gets mode 0755. CPack makes the folders with the packager's umask, whatever the install rules
# say, and a umask of 077 would otherwise give packages whose folders only root can enter.
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
list(APPEND folders "${CPACK_TEMPORARY_DIRECTORY}")
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
    file(CHMOD "${folder}" DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
