# Runs the dictionary generator and fails when its output differs from the
# committed XML.
execute_process(
  COMMAND ${PYTHON} ${GENERATOR} --output ${OUTPUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator failed (${result})")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files ${COMMITTED} ${OUTPUT}
  RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} is not what the generator writes (see ${OUTPUT}); "
                      "run: ${PYTHON} ${GENERATOR} --output ${COMMITTED}")
endif()
