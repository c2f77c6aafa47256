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
# its program, so that a run can pick programs (ctest -L).
#
# A test source adds labels to the tests it defines with a line of its own:
#     // CTest labels: threads
# Every test of the suites that the file's TEST, TEST_F, TEST_P and TYPED_TEST lines name then
# carries those labels too (a suite split over several files: mark each file alike). The label
# "threads" says that a test starts a thread, itself or through the code it runs (a server, a
# device reader, an export, a program that records): scripts/sanitize.sh thread runs exactly the
# tests labelled so, under ThreadSanitizer.
function(tilvex_test name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} tilvex_testsupport GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TILVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TILVEX_BINARY_DIR="${PROJECT_BINARY_DIR}")

  # The GoogleTest filter of the suites of each label set, the sets told apart by an index.
  set(label_sets "")
  set(labelled "")
  foreach(source IN LISTS sources)
    file(STRINGS ${source} marks REGEX "^// CTest labels: ")
    if(NOT marks)
      continue()
    endif()
    list(GET marks 0 mark)
    string(REGEX REPLACE "^// CTest labels: " "" labels "${mark}")
    string(REGEX REPLACE "[ \t]+" ";" labels "${labels}")
    list(SORT labels)
    list(JOIN labels "," key)
    list(FIND label_sets "${key}" index)
    if(index EQUAL -1)
      list(LENGTH label_sets index)
      list(APPEND label_sets "${key}")
    endif()
    file(STRINGS ${source} definitions
         REGEX "^(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\\([A-Za-z0-9_]+,")
    foreach(definition IN LISTS definitions)
      string(REGEX MATCH "\\(([A-Za-z0-9_]+)," unused "${definition}")
      # Plain, value-parameterised (Prefix/Suite.Test/N) and typed (Suite/N.Test) names.
      set(suite "${CMAKE_MATCH_1}.*:*/${CMAKE_MATCH_1}.*:${CMAKE_MATCH_1}/*")
      list(APPEND filter_${index} "${suite}")
      list(APPEND labelled "${suite}")
    endforeach()
  endforeach()

  set(properties ENVIRONMENT "TILVEX_RESOURCES=${PROJECT_SOURCE_DIR}/app/Resources")
  set(index 0)
  foreach(key IN LISTS label_sets)
    if(NOT filter_${index})
      continue()
    endif()
    list(REMOVE_DUPLICATES filter_${index})
    list(JOIN filter_${index} ":" filter)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "${filter}"
      TEST_LIST ${name}_tests_${index} PROPERTIES ${properties} LABELS ${name})
    # A list cannot pass through gtest_discover_tests' PROPERTIES; the labels are set after the
    # discovered tests are added.
    string(REPLACE "," ";" labels "${key}")
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels_${index}.cmake")
    file(WRITE ${script} "if(${name}_tests_${index})\n"
      "  set_tests_properties(\${${name}_tests_${index}} PROPERTIES LABELS \"${name};${labels}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
    math(EXPR index "${index} + 1")
  endforeach()
  set(rest "")
  if(labelled)
    list(REMOVE_DUPLICATES labelled)
    list(JOIN labelled ":" rest)
    set(rest TEST_FILTER "-${rest}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${rest} PROPERTIES ${properties} LABELS ${name})
endfunction()
