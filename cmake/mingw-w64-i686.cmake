# Cross-compiles the 32-bit Windows build with Debian's mingw-w64 (the -posix thread model, which
# std::thread needs). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VINTREL_MINGW_TRIPLE i686-w64-mingw32)
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

# The built programs run under wine: ctest and the post-build steps launch them through it.
# /usr/bin/wine picks the 32-bit loader; /usr/lib/wine/wine is that loader itself.
find_program(VINTREL_WINE NAMES wine wine-stable PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VINTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VINTREL_WINE})
endif()
