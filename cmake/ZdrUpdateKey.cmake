# The public key that engine updates must be signed with, fixed at build
# time and compiled into zdr_engine (engine/UpdateSignature.h). The default
# is the demo key pair, which signs the demo's and the tests' update sites; a
# maker builds with its own public key.
set(ZDR_UPDATE_PUBLIC_KEY "${PROJECT_SOURCE_DIR}/tools/update-site/demo-signing-key.pub.pem"
    CACHE FILEPATH "PEM file of the Ed25519 public key that signs engine updates")
if(NOT EXISTS "${ZDR_UPDATE_PUBLIC_KEY}")
  message(FATAL_ERROR "ZDR_UPDATE_PUBLIC_KEY: no file ${ZDR_UPDATE_PUBLIC_KEY}")
endif()
file(READ "${ZDR_UPDATE_PUBLIC_KEY}" _update_key_pem)
if(NOT _update_key_pem MATCHES "-----BEGIN PUBLIC KEY-----")
  message(FATAL_ERROR "ZDR_UPDATE_PUBLIC_KEY: ${ZDR_UPDATE_PUBLIC_KEY} holds no PEM public key")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZDR_UPDATE_PUBLIC_KEY}")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/engine/UpdatePublicKey.cpp" @ONLY CONTENT
"// Generated from ZDR_UPDATE_PUBLIC_KEY (@ZDR_UPDATE_PUBLIC_KEY@); do not edit.
extern const char kUpdatePublicKeyPem[];
const char kUpdatePublicKeyPem[] = R\"pem(@_update_key_pem@)pem\";
")
target_sources(zdr_engine PRIVATE "${PROJECT_BINARY_DIR}/engine/UpdatePublicKey.cpp")
