# Warnings are on for our own targets only (not for GoogleTest or Benchmark).
function(varn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()
