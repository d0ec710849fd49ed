# velloran_public_headers(TARGET header.h ...)
#
# A library's folder holds its public and its internal headers side by side.
# Its dependents see only the public ones: each gets a forwarding header in
# <build>/<folder>/<TARGET>_public, the only folder the library exports; the
# source folder is private to the library. A public header's own includes are
# found beside it, as always, so an internal header it needs still compiles in
# every dependent, but no dependent can name an internal header itself. Tests
# and benchmarks that reach inside a library say so by linking
# <TARGET>_internals.
function(velloran_public_headers target)
  set(public ${CMAKE_CURRENT_BINARY_DIR}/${target}_public)
  # A header that left the list (moved or made internal) must not live on as a
  # forwarder to a path that may no longer exist in an older build tree.
  file(GLOB_RECURSE existing RELATIVE ${public} ${public}/*)
  foreach(stale IN LISTS existing)
    if(NOT stale IN_LIST ARGN)
      file(REMOVE ${public}/${stale})
    endif()
  endforeach()
  foreach(header IN LISTS ARGN)
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${header})
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "${target}: public header ${header} does not exist")
    endif()
    file(CONFIGURE OUTPUT ${public}/${header}
      CONTENT "// Generated: the public header ${header} of ${target}.\n#include \"${source}\"\n")
  endforeach()
  target_include_directories(${target} PUBLIC ${public} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_library(${target}_internals INTERFACE)
  target_include_directories(${target}_internals INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target}_internals INTERFACE ${target})
endfunction()
