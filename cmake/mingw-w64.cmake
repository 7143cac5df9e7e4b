# The Windows cross build with Debian's mingw-w64 (the -posix thread model, which std::thread
# needs), shared by the 32-bit and the 64-bit toolchain files, which set VINTREL_MINGW_TRIPLE and
# VINTREL_WINE_LOADER first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VINTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VINTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VINTREL_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross root only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VINTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib of the cross root, linked statically so that the program needs no DLL beside it.
set(ZLIB_INCLUDE_DIR /usr/${VINTREL_MINGW_TRIPLE}/include CACHE PATH "")
set(ZLIB_LIBRARY /usr/${VINTREL_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The built programs run under wine: ctest and the post-build steps launch them through its
# loader for this word size, named directly (the "wine" script prefers the 32-bit loader).
find_program(VINTREL_WINE NAMES ${VINTREL_WINE_LOADER} PATHS /usr/lib/wine NO_DEFAULT_PATH
             NO_CMAKE_FIND_ROOT_PATH)
if(VINTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VINTREL_WINE})
endif()
