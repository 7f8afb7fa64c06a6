# Shared by the Debian cross toolchains: VARN_TRIPLET and CMAKE_SYSTEM_PROCESSOR are set
# by the file that includes this one. Compilers, libraries and pkg-config files come
# from Debian's cross compilers and the multiarch -dev packages (scripts/setup.sh ARCH).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VARN_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARN_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VARN_TRIPLET})

# Headers and libraries of the target live beside the build machine's in the multiarch
# folders; programs (pkg-config, the code generators) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${VARN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${VARN_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Test programs, and the programs they start, run under qemu-user with the target's
# multiarch loader and libraries (libc6:ARCH comes with the -dev packages).
set(CMAKE_CROSSCOMPILING_EMULATOR ${VARN_QEMU})
