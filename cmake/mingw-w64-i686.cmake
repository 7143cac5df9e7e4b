# The 32-bit Windows build, the one users get. Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VINTREL_MINGW_TRIPLE i686-w64-mingw32)
set(VINTREL_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
