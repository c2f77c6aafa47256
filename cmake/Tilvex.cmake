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
# CTest with the project's resources found through TILVEX_RESOURCES. Each test is labelled with
# its program, so that a run can pick programs (ctest -L), and with the labels its source
# declares (cmake/TestLabels.cmake tells how):
#     // CTest labels: threads
# The label "threads" says that a test starts a thread, itself or through the code it runs (a
# server, a device reader, an export, a program that records): scripts/sanitize.sh thread runs
# exactly the tests labelled so, under ThreadSanitizer.
function(tilvex_test name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} tilvex_testsupport GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TILVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TILVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TILVEX_RESOURCES=${PROJECT_SOURCE_DIR}/app/Resources" LABELS ${name})
  # Runs after the include file of the discovered tests, which sets ${name}_TESTS.
  set(labels "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
  file(WRITE ${labels} "set(tilvex_program ${name})\n"
    "set(tilvex_sources \"${sources}\")\n"
    "include(\"${PROJECT_SOURCE_DIR}/cmake/TestLabels.cmake\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels})
endfunction()
