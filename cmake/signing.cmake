# Authenticode signatures on the shipped modules and packages, made with
# osslsigncode and a test certificate that the build makes once (in
# build/signing; the x86 build signs with the main build's). A release would
# sign with the publisher's certificate instead.
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
find_program(OPENSSL openssl REQUIRED)
if(NOT ZOVA_SIGNING_DIR)
  set(ZOVA_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing CACHE INTERNAL "")
endif()
set(ZOVA_SIGN ${OSSLSIGNCODE} sign -certs ${ZOVA_SIGNING_DIR}/cert.pem -key ${ZOVA_SIGNING_DIR}/key.pem
    -n "Velmora Remote Console" -h sha256)

if(NOT TARGET signing_certificate AND NOT ZOVA_HOST_TOOLS)
  add_custom_command(
    OUTPUT ${ZOVA_SIGNING_DIR}/cert.pem ${ZOVA_SIGNING_DIR}/key.pem
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZOVA_SIGNING_DIR}
    COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout ${ZOVA_SIGNING_DIR}/key.pem
            -out ${ZOVA_SIGNING_DIR}/cert.pem -subj "/CN=Velmora Remote Console test signing"
            -addext extendedKeyUsage=codeSigning
    COMMENT "test signing certificate"
    VERBATIM)
  add_custom_target(signing_certificate DEPENDS ${ZOVA_SIGNING_DIR}/cert.pem)
endif()

# Signs a module in place once it is linked.
function(zova_sign target)
  if(TARGET signing_certificate)
    add_dependencies(${target} signing_certificate)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f $<TARGET_FILE:${target}>.signed
    COMMAND ${ZOVA_SIGN} -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
