# The 64-bit Windows build: the same programs and tests, for machines whose kernel cannot run the
# 32-bit wine. Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VINTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(VINTREL_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
