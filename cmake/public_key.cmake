# The RSA public key that "b" and "c" texts are encrypted for is source data
# of the library: an .inc file with the exponent and the 256 modulus bytes.
# By default the library uses the committed development key
# (src/protect/dev_public_key.inc). ZUNLOGX_PUBLIC_KEY_PEM names a PEM public
# key to build with instead; its .inc is made here at configure time.
#
# Script form, to remake the committed file from a PEM public key:
#   cmake -DPEM=public.pem -DOUT=src/protect/dev_public_key.inc -P cmake/public_key.cmake

function(zunlogx_write_public_key_inc pem out)
  find_program(ZUNLOGX_OPENSSL_EXECUTABLE openssl)
  if(NOT ZUNLOGX_OPENSSL_EXECUTABLE)
    message(FATAL_ERROR "the openssl program is needed to read ${pem}")
  endif()
  execute_process(COMMAND ${ZUNLOGX_OPENSSL_EXECUTABLE} rsa -pubin -in ${pem} -noout -modulus
    OUTPUT_VARIABLE modulusText ERROR_VARIABLE errorText RESULT_VARIABLE result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot read an RSA public key from ${pem}: ${errorText}")
  endif()
  execute_process(COMMAND ${ZUNLOGX_OPENSSL_EXECUTABLE} rsa -pubin -in ${pem} -noout -text
    OUTPUT_VARIABLE keyText ERROR_VARIABLE errorText RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot read an RSA public key from ${pem}: ${errorText}")
  endif()

  if(NOT modulusText MATCHES "^Modulus=([0-9A-Fa-f]+)$")
    message(FATAL_ERROR "unexpected modulus output for ${pem}: ${modulusText}")
  endif()
  string(TOUPPER "${CMAKE_MATCH_1}" modulusHex)
  string(LENGTH "${modulusHex}" digits)
  # The forms are built around 256-byte RSA blocks (a 366-character key record).
  if(NOT digits EQUAL 512 OR modulusHex MATCHES "^[0-7]")
    message(FATAL_ERROR "${pem} does not hold a 2048-bit RSA key")
  endif()
  if(NOT keyText MATCHES "Exponent: ([0-9]+) ")
    message(FATAL_ERROR "no public exponent found in ${pem}")
  endif()
  set(exponent ${CMAKE_MATCH_1})
  # Odd, from 3 to 2^32 - 1, and not the common 65537: the rules the
  # development key follows and the library checks when it is compiled.
  set(rule "protected messages need an odd public exponent from 3 to 4294967295 other than 65537")
  string(LENGTH "${exponent}" exponentDigits)
  if(exponentDigits GREATER 10 OR exponent GREATER_EQUAL 4294967296)
    message(FATAL_ERROR "the public exponent of ${pem} does not fit in 32 bits; ${rule}")
  endif()
  math(EXPR oddBit "${exponent} % 2")
  if(NOT oddBit EQUAL 1 OR exponent LESS 3 OR exponent EQUAL 65537)
    message(FATAL_ERROR "the public exponent of ${pem} is ${exponent}; ${rule}")
  endif()

  set(modulusBytes "")
  foreach(offset RANGE 0 510 2)
    string(SUBSTRING "${modulusHex}" ${offset} 2 byte)
    string(APPEND modulusBytes "0x${byte}")
    if(offset LESS 510)
      math(EXPR column "(${offset} / 2) % 16")
      if(column EQUAL 15)
        string(APPEND modulusBytes ",\n")
      else()
        string(APPEND modulusBytes ", ")
      endif()
    endif()
  endforeach()
  set(content "// RSA public key for \"b\" and \"c\" texts: the exponent, then the modulus,\n")
  string(APPEND content "// big-endian. Made from a PEM public key by cmake/public_key.cmake.\n")
  string(APPEND content "ZUN_PUBLIC_KEY_EXPONENT(${exponent}u)\n")
  string(APPEND content "ZUN_PUBLIC_KEY_MODULUS(\n${modulusBytes})\n")

  # Rewritten only when it changes, so reconfiguring does not rebuild.
  if(EXISTS "${out}")
    file(READ "${out}" previous)
    if(previous STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${out}" "${content}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT PEM OR NOT OUT)
    message(FATAL_ERROR "usage: cmake -DPEM=public.pem -DOUT=key.inc -P public_key.cmake")
  endif()
  zunlogx_write_public_key_inc("${PEM}" "${OUT}")
  return()
endif()

if(ZUNLOGX_PUBLIC_KEY_PEM)
  get_filename_component(pemPath "${ZUNLOGX_PUBLIC_KEY_PEM}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  set(generatedInc "${CMAKE_CURRENT_BINARY_DIR}/generated/public_key.inc")
  zunlogx_write_public_key_inc("${pemPath}" "${generatedInc}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pemPath}")
  target_compile_definitions(zunlogx_protect PUBLIC ZUNLOGX_PUBLIC_KEY_INC="${generatedInc}")
  message(STATUS "zunlogx: protected messages use the public key of ${pemPath}")
else()
  target_compile_definitions(zunlogx_protect PUBLIC ZUNLOGX_PUBLIC_KEY_INC="protect/dev_public_key.inc")
endif()
