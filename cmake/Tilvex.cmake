# tilvex_library(NAME DIR [DEPS ...]): a static library of every .cpp below DIR, linked
# (publicly) to DEPS. A folder without sources yet gives an interface library.
function(tilvex_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX ".*/main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tilvex_test(NAME DIR [DEPS ...]): one GoogleTest program of every .cpp below DIR, run through
# CTest with the project's resources found through TILVEX_RESOURCES.
function(tilvex_test name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} tilvex_testsupport GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TILVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TILVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # Each test is labelled with its program, so that a run can pick programs (ctest -L).
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TILVEX_RESOURCES=${PROJECT_SOURCE_DIR}/app/Resources" LABELS ${name})
endfunction()
