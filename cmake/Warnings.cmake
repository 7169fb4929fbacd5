# Project-wide warning set; TONVISTA_WERROR turns them into errors (CI does).
function(tonvista_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2
    -Wimplicit-fallthrough -Wmissing-declarations)
  if(TONVISTA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 at -O3 reports overlapping copies inside libstdc++'s own string
    # concatenation (GCC bug 105329), so the check is left to newer compilers.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
  endif()
endfunction()
