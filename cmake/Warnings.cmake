# Project-wide warning set; TONVISTA_WERROR turns them into errors (CI does).
function(tonvista_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2
    -Wimplicit-fallthrough -Wmissing-declarations)
  if(TONVISTA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
