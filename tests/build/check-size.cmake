# Fails when PROGRAM, stripped as the release package holds it, is larger
# than LIMIT bytes. The stripped copy goes to COPY.
execute_process(COMMAND ${STRIP} --strip-all -o ${COPY} ${PROGRAM} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "strip failed on ${PROGRAM}")
endif()
file(SIZE ${COPY} size)
math(EXPR headroom "${LIMIT} - ${size}")
if(headroom LESS 0)
  message(FATAL_ERROR "${PROGRAM} is ${size} bytes stripped, over its limit of ${LIMIT}")
endif()
message(STATUS "${size} bytes, ${headroom} below the limit of ${LIMIT}")
