# libftdi1 as PkgConfig::LIBFTDI1. Debian's libftdi1-dev cannot be installed for two
# architectures at once, so a cross build takes the target's runtime library
# (libftdi1-2:ARCH, which can) and the build machine's header, which is the same for
# every architecture.
pkg_check_modules(LIBFTDI1 IMPORTED_TARGET libftdi1)
if(NOT LIBFTDI1_FOUND)
  if(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "libftdi1 not found: run scripts/setup.sh (it installs libftdi1-dev)")
  endif()
  find_path(VARN_FTDI1_INCLUDE ftdi.h PATHS /usr/include/libftdi1 NO_CMAKE_FIND_ROOT_PATH)
  find_library(VARN_FTDI1_LIBRARY NAMES ftdi1 libftdi1.so.2 PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  if(NOT VARN_FTDI1_INCLUDE OR NOT VARN_FTDI1_LIBRARY)
    message(FATAL_ERROR "libftdi1 for ${CMAKE_LIBRARY_ARCHITECTURE} not found (header: ${VARN_FTDI1_INCLUDE}, "
                        "library: ${VARN_FTDI1_LIBRARY}): run scripts/setup.sh ${VARN_CROSS_NAME}")
  endif()
  add_library(PkgConfig::LIBFTDI1 INTERFACE IMPORTED)
  target_include_directories(PkgConfig::LIBFTDI1 INTERFACE ${VARN_FTDI1_INCLUDE})
  target_link_libraries(PkgConfig::LIBFTDI1 INTERFACE ${VARN_FTDI1_LIBRARY} PkgConfig::LIBUSB)
endif()
