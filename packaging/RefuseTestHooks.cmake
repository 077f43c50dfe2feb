# Run by cpack before it makes the package of a build configured with
# KX_TEST_HOOKS=ON (packaging/CMakeLists.txt).
if(NOT CPACK_KX_ACCEPT_TEST_HOOKS)
  message(FATAL_ERROR "this build has the tests' kill points (KX_TEST_HOOKS=ON), which the environment can "
                      "switch on: package a build configured with -DKX_BUILD_TESTS=OFF or -DKX_TEST_HOOKS=OFF")
endif()
