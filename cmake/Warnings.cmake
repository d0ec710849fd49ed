# Warnings for the project's own targets.
#   -Wall -Wextra -Wpedantic  the usual baseline
#   -Wshadow                  a shadowed grid or index is a classic stencil bug
#   -Wdouble-promotion        float silently widened to double hides precision intent
#   -Wnon-virtual-dtor        Qt objects are deleted through base pointers
function(velloran_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wdouble-promotion -Wnon-virtual-dtor)
endfunction()
