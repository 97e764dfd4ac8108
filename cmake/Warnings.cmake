# zemlink_warnings(target): the project's warning set, errors under CI.
function(zemlink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ZEMLINK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
