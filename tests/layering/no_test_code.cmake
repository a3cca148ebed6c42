# The shipped program carries no test code: no symbol of platform::testing, of the window tests'
# helpers (wintest::) or of the fixtures in `nm -C` of the executable.
# cmake -DNM=<nm> -DPROGRAM=<exe> -P no_test_code.cmake
execute_process(COMMAND ${NM} -C ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "[^\n]*(platform::testing|wintest::|fixtures::)[^\n]*" found "${symbols}")
list(LENGTH found count)
if(count GREATER 0)
    list(JOIN found "\n" lines)
    message(FATAL_ERROR "${PROGRAM} carries ${count} test symbols:\n${lines}")
endif()
message(STATUS "no test code in ${PROGRAM}")
