# Uninst.exe as a vendor ships it: the same bytes from every build of the same source, and an
# Authenticode signature when a packager asks for one (docs/packagers.md).

# The linker writes SOURCE_DATE_EPOCH into the image's time stamp, and the checksum follows from
# it; unset, it would write the time of linking. Our default is 0, no date, so that a copy of the
# source without its history builds the same bytes as a clone.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(UNINST_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(UNINST_SOURCE_DATE_EPOCH 0)
endif()
if(NOT UNINST_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds since 1970")
endif()
set_property(TARGET Uninst PROPERTY CXX_LINKER_LAUNCHER
             ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${UNINST_SOURCE_DATE_EPOCH})

set(UNINST_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key; empty: Uninst.exe is not signed")
set(UNINST_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File that holds the PKCS#12 password; empty: the password is the build's UNINST_SIGN_PASSWORD")
set(UNINST_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; empty: no time stamp")

if(UNINST_SIGN_PKCS12)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  add_custom_command(TARGET Uninst POST_BUILD
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign.sh ${OSSLSIGNCODE} $<TARGET_FILE:Uninst>
            ${UNINST_SIGN_PKCS12} "${UNINST_SIGN_PASSWORD_FILE}" "${UNINST_SIGN_TIMESTAMP_URL}"
    VERBATIM)
  # The certificate and its password are inputs by content: a renewed certificate at the same path
  # signs again. A missing file is the signing step's to report, not the build tool's.
  add_custom_target(uninst_sign_inputs
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign.sh --inputs ${CMAKE_BINARY_DIR}/sign-inputs.sha256
            ${UNINST_SIGN_PKCS12} "${UNINST_SIGN_PASSWORD_FILE}"
    BYPRODUCTS ${CMAKE_BINARY_DIR}/sign-inputs.sha256
    VERBATIM)
  add_dependencies(Uninst uninst_sign_inputs)
  set_property(TARGET Uninst APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/sign-inputs.sha256)
endif()

# Relink when these change: a signed executable must not outlive the settings that made it, nor an
# unsigned one the decision to sign.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/release-settings.txt CONTENT
     "${UNINST_SOURCE_DATE_EPOCH}\n${UNINST_SIGN_PKCS12}\n${UNINST_SIGN_PASSWORD_FILE}\n${UNINST_SIGN_TIMESTAMP_URL}\n")
set_property(TARGET Uninst APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/release-settings.txt)
