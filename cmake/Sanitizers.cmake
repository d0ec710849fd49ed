# VELLORAN_SANITIZE selects one sanitizer set for the whole build:
#   address  -> AddressSanitizer + UndefinedBehaviorSanitizer
#   thread   -> ThreadSanitizer (cannot be combined with the address set)
set(VELLORAN_SANITIZE "" CACHE STRING "Sanitizer set: empty, 'address' or 'thread'")
set_property(CACHE VELLORAN_SANITIZE PROPERTY STRINGS "" address thread)

if(VELLORAN_SANITIZE STREQUAL "address")
  set(_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(VELLORAN_SANITIZE STREQUAL "thread")
  set(_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VELLORAN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELLORAN_SANITIZE must be empty, 'address' or 'thread'")
endif()

if(_flags)
  add_compile_options(${_flags})
  add_link_options(${_flags})
endif()
