# VELLORAN_SANITIZE selects one sanitizer set for the whole build:
#   address  -> AddressSanitizer + UndefinedBehaviorSanitizer
#   thread   -> ThreadSanitizer (cannot be combined with the address set)
#   fuzzer   -> the address set, with every target instrumented for libFuzzer's
#               coverage (Clang only; tests/fuzz then builds the fuzz targets)
set(VELLORAN_SANITIZE "" CACHE STRING "Sanitizer set: empty, 'address', 'thread' or 'fuzzer'")
set_property(CACHE VELLORAN_SANITIZE PROPERTY STRINGS "" address thread fuzzer)

if(VELLORAN_SANITIZE STREQUAL "address")
  set(_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(VELLORAN_SANITIZE STREQUAL "thread")
  set(_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(VELLORAN_SANITIZE STREQUAL "fuzzer")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELLORAN_SANITIZE=fuzzer needs Clang (libFuzzer)")
  endif()
  set(_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(-fsanitize=fuzzer-no-link)
elseif(NOT VELLORAN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELLORAN_SANITIZE must be empty, 'address', 'thread' or 'fuzzer'")
endif()

if(_flags)
  add_compile_options(${_flags})
  add_link_options(${_flags})
endif()
