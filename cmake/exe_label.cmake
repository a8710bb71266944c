# What the Windows program says about itself: a version resource (product, description, version,
# the studio's company), an optional icon, and an optional Authenticode signature. Antivirus
# products treat an unlabelled, unsigned downloader with suspicion. Without FELTO_ICON and
# FELTO_CODESIGN_PFX the program is built without an icon and unsigned.

set(FELTO_VERSION "1.0.0.0" CACHE STRING "Version in the program's version resource (a.b.c.d)")
set(FELTO_COMPANY_NAME "" CACHE STRING "The studio's company name in the version resource")
set(FELTO_ICON "" CACHE FILEPATH "Icon of the program (.ico); empty: none")
set(FELTO_CODESIGN_PFX "" CACHE FILEPATH
  "PKCS#12 file with the studio's code-signing key and certificate; empty: the program is unsigned")
set(FELTO_CODESIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of FELTO_CODESIGN_PFX")
set(FELTO_CODESIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 time-stamping server for the signature; empty: no time stamp")

function(felto_label_exe target)
  if(NOT WIN32)
    return()
  endif()
  if(NOT FELTO_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "FELTO_VERSION must be four numbers a.b.c.d, not ${FELTO_VERSION}")
  endif()
  string(REPLACE "." "," FELTO_VERSION_COMMAS "${FELTO_VERSION}")
  set(FELTO_ICON_LINE "")
  if(NOT FELTO_ICON STREQUAL "")
    if(NOT EXISTS "${FELTO_ICON}")
      message(FATAL_ERROR "FELTO_ICON: ${FELTO_ICON} does not exist")
    endif()
    set(FELTO_ICON_LINE "1 ICON \"${FELTO_ICON}\"")
  endif()
  enable_language(RC)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_BINARY_DIR}/felto_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/felto_version.rc)

  if(NOT FELTO_CODESIGN_PFX STREQUAL "")
    find_program(FELTO_OSSLSIGNCODE osslsigncode REQUIRED)
    if(NOT EXISTS "${FELTO_CODESIGN_PFX}")
      message(FATAL_ERROR "FELTO_CODESIGN_PFX: ${FELTO_CODESIGN_PFX} does not exist")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_SOURCE_DIR}/cmake/codesign.sh $<TARGET_FILE:${target}> "${FELTO_CODESIGN_PFX}"
        "${FELTO_CODESIGN_PASSWORD_FILE}" "${FELTO_CODESIGN_TIMESTAMP_URL}"
      COMMENT "Signing $<TARGET_FILE_NAME:${target}> with ${FELTO_CODESIGN_PFX}"
      VERBATIM)
  endif()
endfunction()
