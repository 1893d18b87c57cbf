# Runs inside ctest after the discovered tests were added; vorlin_unit_tests_TESTS lists them.
if(vorlin_unit_tests_TESTS)
  set_tests_properties(${vorlin_unit_tests_TESTS} PROPERTIES LABELS "unit;threads")
endif()
