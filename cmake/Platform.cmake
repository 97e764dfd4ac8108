# Where a facility differs between Linux and Windows, one header declares it
# and two sources implement it side by side, <name>_posix.cpp and
# <name>_windows.cpp; ZEMLINK_PLATFORM says which of them a build takes.
if(WIN32)
  set(ZEMLINK_PLATFORM windows)
else()
  set(ZEMLINK_PLATFORM posix)
endif()

# zemlink_platform_sources(target name ...): adds <name>_<platform>.cpp of
# the calling folder for every name.
function(zemlink_platform_sources target)
  foreach(name IN LISTS ARGN)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${ZEMLINK_PLATFORM}.cpp)
  endforeach()
endfunction()

# A path as the programs of this build take it on their command line: on
# Windows (run under Wine) the drive that maps the host's root.
function(zemlink_program_path out path)
  if(WIN32)
    set(${out} "Z:${path}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()
