# Configures the project afresh in SCRATCH with FELTO_SERVER_URL=URL (and FELTO_SERVER_PORT=PORT
# when given, FELTO_RELEASE_KEY=KEY and the -D settings in OPTIONS) and fails unless the configure
# ends as EXPECT_STATUS says ("ok" or "refused") and its output matches the regular expression
# EXPECT.
file(REMOVE_RECURSE "${SCRATCH}")
set(args -S "${SOURCE}" -B "${SCRATCH}" -DFELTO_BUILD_TESTS=OFF "-DFELTO_SERVER_URL=${URL}")
if(DEFINED PORT)
  list(APPEND args "-DFELTO_SERVER_PORT=${PORT}")
endif()
if(DEFINED KEY)
  list(APPEND args "-DFELTO_RELEASE_KEY=${KEY}")
endif()
if(DEFINED OPTIONS) # further settings, separated by commas
  string(REPLACE "," ";" options "${OPTIONS}")
  list(APPEND args ${options})
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out
  ERROR_VARIABLE err TIMEOUT 120)
file(REMOVE_RECURSE "${SCRATCH}")
string(REGEX REPLACE "[ \t\r\n]+" " " said "${out}${err}") # CMake wraps its messages
if(EXPECT_STATUS STREQUAL "ok" AND NOT status EQUAL 0)
  message(FATAL_ERROR "configure with ${URL} failed (${status}):\n${out}${err}")
elseif(EXPECT_STATUS STREQUAL "refused" AND status EQUAL 0)
  message(FATAL_ERROR "configure with ${URL} was accepted:\n${out}${err}")
endif()
if(NOT said MATCHES "${EXPECT}")
  message(FATAL_ERROR "configure with ${URL} did not say '${EXPECT}':\n${out}${err}")
endif()
