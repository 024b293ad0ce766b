# Fails when a launcher binary holds any of the deployer's signing code: a
# launcher only ever verifies, and the secret-key code has no business in
# what players run.
execute_process(COMMAND "${NM}" -C "${BINARY}" OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} cannot list the symbols of ${BINARY}: ${errors}")
endif()
string(FIND "${symbols}" "verifySignedRelease" verifier)
if(verifier EQUAL -1)
  message(FATAL_ERROR "${BINARY} lists no verifySignedRelease: the symbols cannot show what it holds")
endif()
foreach(name SecretKey generateSecretKey secretKeyFileText parseSecretKeyFile signRelease)
  if(symbols MATCHES "[^A-Za-z0-9_]${name}[^A-Za-z0-9_]")
    message(FATAL_ERROR "${BINARY} holds ${name}, the deployer's signing code")
  endif()
endforeach()
