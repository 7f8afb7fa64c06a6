# What the Windows build takes from outside Debian's mingw-w64 packages.

# ncurses for the console view, from scripts/mingw_ncurses.sh (its prefix is passed as
# VARN_MINGW_NCURSES, or found by running the script, which caches its build).
if(NOT VARN_MINGW_NCURSES)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/mingw_ncurses.sh
                  OUTPUT_VARIABLE VARN_MINGW_NCURSES OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "scripts/mingw_ncurses.sh failed (${rc}): the Windows console view needs its ncurses")
  endif()
  set(VARN_MINGW_NCURSES ${VARN_MINGW_NCURSES} CACHE PATH "ncurses cross-built for mingw-w64")
endif()
set(CURSES_INCLUDE_DIRS ${VARN_MINGW_NCURSES}/include)
set(CURSES_LIBRARIES ${VARN_MINGW_NCURSES}/lib/libncurses.a)
if(NOT EXISTS ${CURSES_LIBRARIES})
  message(FATAL_ERROR "no ${CURSES_LIBRARIES}: remove VARN_MINGW_NCURSES from the cache and configure again")
endif()

# GoogleTest from the sources Debian's libgtest-dev ships, built with this compiler.
if(VARN_BUILD_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
add_compile_definitions(NCURSES_STATIC)
# windows.h without its old winsock.h (the program uses Winsock 2) and without the
# min/max macros that break std::min and std::max.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0602)
# C99 printf (%hhu, %zu, %lld) as on Linux, not the old msvcrt one.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
