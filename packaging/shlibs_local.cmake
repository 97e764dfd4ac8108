# Run by CPack once every component is staged, before the packages are made.
#
# dpkg-shlibdeps maps each library a program needs to the package that
# provides it. libzemlink is not installed on the building machine, so it
# is pointed at the staged library (-l) and given the library package's
# shlibs line in debian/shlibs.local, which it reads first. CPack runs it
# in each component's staging folder and removes debian/ before packing.

set(library_stage "${CPACK_TEMPORARY_DIRECTORY}/${CPACK_ZEMLINK_LIBRARY_COMPONENT}")
file(GLOB_RECURSE libraries "${library_stage}/*.so.*")
set(shlibs "")
set(library_dirs "")
foreach(library IN LISTS libraries)
  if(IS_SYMLINK "${library}")
    continue()
  endif()
  execute_process(COMMAND readelf -d "${library}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\)[^[]*\\[(lib[^]]+)\\.so\\.([^]]+)\\]")
    message(FATAL_ERROR "no SONAME in ${library}")
  endif()
  string(TOUPPER "${CPACK_ZEMLINK_LIBRARY_COMPONENT}" upper)
  string(APPEND shlibs "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CPACK_DEBIAN_${upper}_PACKAGE_NAME} "
    "(${CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY} ${CPACK_PACKAGE_VERSION})\n")
  get_filename_component(directory "${library}" DIRECTORY)
  list(APPEND library_dirs "${directory}")
endforeach()
if(shlibs STREQUAL "")
  message(FATAL_ERROR "no shared library staged in ${library_stage}")
endif()
list(REMOVE_DUPLICATES library_dirs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${library_dirs})

# Only where CPack will run dpkg-shlibdeps (a component with ELF files), as
# only there it removes debian/ again.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  set(stage "${CPACK_TEMPORARY_DIRECTORY}/${component}")
  file(GLOB_RECURSE staged LIST_DIRECTORIES false "${stage}/*")
  foreach(file IN LISTS staged)
    if(IS_SYMLINK "${file}")
      continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      file(WRITE "${stage}/debian/shlibs.local" "${shlibs}")
      break()
    endif()
  endforeach()
endforeach()
