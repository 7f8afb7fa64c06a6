# Test code builds at -O1 with line tables only (-g1), whatever the build type: the
# tests' own sources are most of what a build compiles, and full optimisation and
# debug info about doubled their compile time (16 s against 8 s for the largest) for
# no gain. The code under test keeps the build's flags. Failures still show file,
# line and function.
function(varn_test_code target)
  target_compile_options(${target} PRIVATE -O1 -g1)
endfunction()

# varn_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>]
#                [THREADS])
# Builds one GoogleTest binary and registers each of its tests with CTest.
# Label "soak" marks long runs that CI only runs briefly; "e2e" marks tests of the real binary.
# THREADS marks a binary whose tests start threads (in it, or in the programs it runs):
# label "threads", and a dependency of the target varn_threaded_tests, which the
# ThreadSanitizer run of CI builds and runs alone. The discovered tests get only the
# first label: "threads" goes first.
function(varn_add_gtest name)
  cmake_parse_arguments(T "THREADS" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_THREADS)
    list(PREPEND T_LABELS threads)
    if(NOT TARGET varn_threaded_tests)
      add_custom_target(varn_threaded_tests)
    endif()
    add_dependencies(varn_threaded_tests ${name})
  endif()
  add_executable(${name} ${T_SOURCES})
  varn_warnings(${name})
  varn_test_code(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${props})
endfunction()
