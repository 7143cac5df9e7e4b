# GoogleTest: Debian's prebuilt package natively; built from its sources when cross-compiling or
# when the prebuilt one cannot be used (sanitizer builds link it from source too).
set(VINTREL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT CMAKE_CROSSCOMPILING AND NOT VINTREL_SANITIZE)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # GoogleTest looks for Python for its own tests only, which are not built here.
  set(CMAKE_DISABLE_FIND_PACKAGE_Python ON)
  add_subdirectory(${VINTREL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
include(GoogleTest)
