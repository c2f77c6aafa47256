# tilvex_library(NAME DIR [DEPS ...]): a static library of every .cpp in DIR (not recursive).
function(tilvex_library name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# tilvex_test(NAME DIR [DEPS ...]): one GoogleTest program of every .cpp in DIR, run through CTest.
function(tilvex_test name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} tilvex_testsupport GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TILVEX_RESOURCES=${PROJECT_SOURCE_DIR}/app/Resources")
endfunction()
