# GoogleTest as GTest::gtest_main. Debian's libgtest is built for this
# machine with libstdc++: a build for Windows, or one on libc++, cannot link
# it and builds GoogleTest from the sources Debian ships (package googletest)
# with its own compiler and C++ library instead, when
# ORVANTIC_GOOGLETEST_SOURCE names them.
if(ORVANTIC_GOOGLETEST_SOURCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ORVANTIC_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
