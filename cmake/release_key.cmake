# The studio's release key: an ECDSA P-256 public key in PEM form, as `openssl ec -pubout`
# writes it. It is read here, at configure time, so that a wrong file stops the build instead of
# every player's run, and is built into the program like the server's URL.

# The base64 text of the key's DER form in the PEM file `pem` (empty for an empty `pem`), into
# `outVar`; a file that holds no P-256 public key stops the configure.
function(felto_read_release_key pem outVar)
  set(body "")
  if(NOT pem STREQUAL "")
    if(NOT EXISTS "${pem}")
      message(FATAL_ERROR "FELTO_RELEASE_KEY: ${pem} does not exist")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
    file(READ "${pem}" text)
    if(text MATCHES "-----BEGIN PUBLIC KEY-----([A-Za-z0-9+/=\r\n]*)-----END PUBLIC KEY-----")
      string(REGEX REPLACE "[\r\n]" "" body "${CMAKE_MATCH_1}")
    endif()
    # The DER form of every P-256 public key is 91 bytes and starts with the same 27: its base64
    # text is 124 characters and starts with the same 36.
    string(LENGTH "${body}" length)
    if(NOT length EQUAL 124 OR NOT body MATCHES "^MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")
      message(FATAL_ERROR "FELTO_RELEASE_KEY: ${pem} is not an ECDSA P-256 public key in PEM "
        "form (make it with: openssl ec -in private.pem -pubout -out public.pem)")
    endif()
  endif()
  set(${outVar} "${body}" PARENT_SCOPE)
endfunction()

# The key's fingerprint as felto-publish prints it: the first 16 hex digits of the SHA-256 of that
# base64 text (the PEM's lines joined), or "unsigned" without a key.
function(felto_release_key_fingerprint pem outVar)
  felto_read_release_key("${pem}" body)
  if(body STREQUAL "")
    set(${outVar} "unsigned" PARENT_SCOPE)
  else()
    string(SHA256 digest "${body}")
    string(SUBSTRING "${digest}" 0 16 digest)
    set(${outVar} "key ${digest}" PARENT_SCOPE)
  endif()
endfunction()

# Builds `target` with the key in the PEM file `pem`; an empty `pem` builds it without a key (no
# signature is asked for or checked). An optional third argument is the lowest release number the
# program installs (FELTO_MIN_RELEASE by default).
function(felto_use_release_key target pem)
  set(floor "${FELTO_MIN_RELEASE}")
  if(ARGC GREATER 2)
    set(floor "${ARGV2}")
  endif()
  string(LENGTH "${floor}" floorLength)
  if(NOT floor MATCHES "^[0-9]+$" OR floorLength GREATER 20)
    message(FATAL_ERROR "FELTO_MIN_RELEASE: '${floor}' is no release number (up to 20 digits)")
  endif()
  felto_read_release_key("${pem}" body)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/manifest/release_key.cpp)
  target_compile_definitions(${target} PRIVATE FELTO_RELEASE_KEY_BASE64="${body}"
    FELTO_MIN_RELEASE_VALUE=${floor}ULL)
endfunction()
