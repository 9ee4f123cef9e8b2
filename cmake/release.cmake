# The executables as a vendor ships them, Uninst.exe and UninstCheck.exe: the same bytes from every
# build of the same source, and an Authenticode signature when a packager asks for one
# (docs/packagers.md). uninst_shipped(TARGET) makes a target one of them.

# The linker writes SOURCE_DATE_EPOCH into the image's time stamp, and the checksum follows from
# it; unset, it would write the time of linking. Our default is 0, no date, so that a copy of the
# source without its history builds the same bytes as a clone. The first configure of a build
# directory takes it and the cache keeps it: a later configure without it (the kit's, say) must not
# relink what a release built.
if(NOT DEFINED CACHE{UNINST_SOURCE_DATE_EPOCH})
  set(uninst_epoch 0)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(uninst_epoch "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  set(UNINST_SOURCE_DATE_EPOCH "${uninst_epoch}" CACHE STRING
      "Time stamp of the shipped executables, in seconds since 1970: SOURCE_DATE_EPOCH at the first configure, or 0")
elseif(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "${UNINST_SOURCE_DATE_EPOCH}")
  message(WARNING "SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH} is not used: this build directory keeps "
          "UNINST_SOURCE_DATE_EPOCH=${UNINST_SOURCE_DATE_EPOCH}. To change it, configure with "
          "-DUNINST_SOURCE_DATE_EPOCH=<seconds>.")
endif()
if(NOT UNINST_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds since 1970")
endif()
message(STATUS "Time stamp of Uninst.exe and UninstCheck.exe: ${UNINST_SOURCE_DATE_EPOCH}")

set(UNINST_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key; empty: nothing is signed")
set(UNINST_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File that holds the PKCS#12 password; empty: the password is the build's UNINST_SIGN_PASSWORD")
set(UNINST_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; empty: no time stamp")

if(UNINST_SIGN_PKCS12)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  # The certificate and its password are inputs by content: a renewed certificate at the same path
  # signs again. A missing file is the signing step's to report, not the build tool's.
  add_custom_target(uninst_sign_inputs
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign.sh --inputs ${CMAKE_BINARY_DIR}/sign-inputs.sha256
            ${UNINST_SIGN_PKCS12} "${UNINST_SIGN_PASSWORD_FILE}"
    BYPRODUCTS ${CMAKE_BINARY_DIR}/sign-inputs.sha256
    VERBATIM)
endif()

# Relink when these change: a signed executable must not outlive the settings that made it, nor an
# unsigned one the decision to sign.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/release-settings.txt CONTENT
     "${UNINST_SOURCE_DATE_EPOCH}\n${UNINST_SIGN_PKCS12}\n${UNINST_SIGN_PASSWORD_FILE}\n${UNINST_SIGN_TIMESTAMP_URL}\n")

set(UNINST_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign.sh)
# Called in the folder that made the target: CMake adds a build step to a target only there.
function(uninst_shipped target)
  set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
               ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${UNINST_SOURCE_DATE_EPOCH})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/release-settings.txt)
  if(UNINST_SIGN_PKCS12)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${UNINST_SIGN_SCRIPT} ${OSSLSIGNCODE} $<TARGET_FILE:${target}>
              ${UNINST_SIGN_PKCS12} "${UNINST_SIGN_PASSWORD_FILE}" "${UNINST_SIGN_TIMESTAMP_URL}"
      VERBATIM)
    add_dependencies(${target} uninst_sign_inputs)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/sign-inputs.sha256)
  endif()
endfunction()
