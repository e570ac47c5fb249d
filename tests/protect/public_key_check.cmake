# The check a build runs on the public key it is given: a 2048-bit key with
# the common exponent 65537 is refused with a message that names it, and the
# development key passes and gives exactly the committed .inc file.
#   cmake -DSOURCE_DIR=<repository> -DWORK=<scratch folder> -P public_key_check.cmake
find_program(openssl openssl REQUIRED)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(result ${result} PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

run(${openssl} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${WORK}/common.key")
run(${openssl} pkey -in "${WORK}/common.key" -pubout -out "${WORK}/common.pem")
run(${openssl} pkey -in "${SOURCE_DIR}/tests/data/protect/dev_private_key.pem" -pubout -out "${WORK}/dev.pem")

foreach(case "common;1;public exponent of .*common.pem is 65537" "dev;0;^$")
  list(GET case 0 name)
  list(GET case 1 expectedResult)
  list(GET case 2 expectedOutput)
  run(${CMAKE_COMMAND} -DPEM=${WORK}/${name}.pem -DOUT=${WORK}/${name}.inc -P "${SOURCE_DIR}/cmake/public_key.cmake")
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  if(NOT result EQUAL expectedResult OR NOT output MATCHES "${expectedOutput}")
    message(FATAL_ERROR "${name}.pem: exit ${result}, expected ${expectedResult}; output: ${output}")
  endif()
endforeach()

file(READ "${WORK}/dev.inc" made)
file(READ "${SOURCE_DIR}/src/protect/dev_public_key.inc" committed)
if(NOT made STREQUAL committed)
  message(FATAL_ERROR "the development key does not give the committed dev_public_key.inc")
endif()
