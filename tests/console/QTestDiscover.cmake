# Run after a QTest program is built: lists its test functions (-functions) and
# writes one CTest case per function, so every case runs in its own process.
# In: TEST_EXECUTABLE, TEST_SUITE, CTEST_FILE, TEST_PROPERTIES (a property list).
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${TEST_EXECUTABLE} -functions
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE rc
  TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} -functions failed (${rc}):\n${out}\n${err}")
endif()

set(props "")
foreach(p IN LISTS TEST_PROPERTIES)
  string(APPEND props " [==[${p}]==]")
endforeach()

set(script "")
string(REPLACE "\n" ";" lines "${out}")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    set(case "${TEST_SUITE}.${CMAKE_MATCH_1}")
    # A function that skips as a whole (QSKIP outside data rows) reads as
    # skipped in CTest, not as passed.
    string(APPEND script
      "add_test([==[${case}]==] [==[${TEST_EXECUTABLE}]==] [==[${CMAKE_MATCH_1}]==])\n"
      "set_tests_properties([==[${case}]==] PROPERTIES${props}"
      " SKIP_REGULAR_EXPRESSION [==[SKIP   : [A-Za-z0-9_]+::${CMAKE_MATCH_1}\\(\\) ]==])\n")
  endif()
endforeach()
if(script STREQUAL "")
  message(FATAL_ERROR "${TEST_EXECUTABLE} lists no test functions")
endif()
file(WRITE "${CTEST_FILE}" "${script}")
