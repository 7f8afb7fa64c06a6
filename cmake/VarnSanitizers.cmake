if(VARN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VARN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VARN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VARN_SANITIZE must be '', 'address' or 'thread', not '${VARN_SANITIZE}'")
endif()

# Fuzzing builds instrument every library for coverage, not only the fuzz targets'
# own files: without it libFuzzer cannot see which paths of the code under test an
# input reached, and its mutations are blind.
if(VARN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES Clang)
    message(FATAL_ERROR "VARN_FUZZ needs clang (libFuzzer), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
