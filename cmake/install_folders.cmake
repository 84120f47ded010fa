# cmake --install makes the folders it needs with mkdir, whose mode the umask trims whatever
# CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS says (CMake 3.25 does not set it afterwards). So
# the install notes which of its folders are not there yet, and gives those the default mode
# once it is done. Folders that were there before, such as a /usr/local/share of group staff,
# keep their own.

# Call before the first install rule, with every destination (relative to the prefix) that the
# install rules name; the prefix itself and the folders in between are taken too.
function(kavoni_install_folders_begin)
  set(folders .)
  foreach(destination IN LISTS ARGN)
    while(NOT destination STREQUAL "" AND NOT destination STREQUAL ".")
      list(APPEND folders "${destination}")
      get_filename_component(destination "${destination}" DIRECTORY)
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  install(CODE "set(kavoni_folders \"${folders}\")")
  install(CODE [[
    set(kavoni_new_folders "")
    foreach(folder IN LISTS kavoni_folders)
      set(path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${folder}")
      if(NOT IS_DIRECTORY "${path}")
        list(APPEND kavoni_new_folders "${path}")
      endif()
    endforeach()
  ]])
endfunction()

# Call after the last install rule.
function(kavoni_install_folders_end)
  install(CODE [[
    foreach(folder IN LISTS kavoni_new_folders)
      if(IS_DIRECTORY "${folder}")
        file(CHMOD "${folder}" DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
      endif()
    endforeach()
  ]])
endfunction()
