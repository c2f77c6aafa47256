# Run by CTest once the tests of one program are added (tilvex_test writes the include file that
# sets `tilvex_program` and `tilvex_sources` and includes this one). Read at every CTest run, so a
# label added to a source, or a suite added to a labelled source, counts without configuring
# again.
#
# A test source labels the tests it defines with a line of its own:
#     // CTest labels: threads
# Every test of the suites that the file's TEST, TEST_F, TEST_P and TYPED_TEST lines name then
# carries those labels besides its program's name (so a suite's label follows it into every file
# that defines tests of it).
foreach(source IN LISTS tilvex_sources)
  file(STRINGS "${source}" marks REGEX "^// CTest labels: ")
  if(NOT marks)
    continue()
  endif()
  list(GET marks 0 mark)
  string(REGEX REPLACE "^// CTest labels: +" "" labels "${mark}")
  string(REGEX REPLACE "[ \t]+" ";" labels "${labels}")
  file(STRINGS "${source}" definitions
       REGEX "^(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\\([A-Za-z0-9_]+,")
  set(suites "")
  foreach(definition IN LISTS definitions)
    string(REGEX MATCH "\\(([A-Za-z0-9_]+)," unused "${definition}")
    list(APPEND suites "${CMAKE_MATCH_1}")
  endforeach()
  if(NOT suites)
    continue()
  endif()
  list(REMOVE_DUPLICATES suites)
  list(JOIN suites "|" alternatives)
  # Plain (Suite.Test), value-parameterised (Prefix/Suite.Test/N) and typed (Suite/N.Test) names.
  set(pattern "^([^/.]*/)?(${alternatives})[./]")
  set(matching "")
  foreach(test IN LISTS ${tilvex_program}_TESTS)
    if(test MATCHES "${pattern}")
      list(APPEND matching "${test}")
    endif()
  endforeach()
  if(matching)
    set_tests_properties(${matching} PROPERTIES LABELS "${tilvex_program};${labels}")
  endif()
endforeach()
