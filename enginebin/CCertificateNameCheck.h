#pragma once
// Holds HTTPS servers to the names in their certificate's subjectAltName,
// as the plain path does. libcurl checks the host there, but when a
// certificate lists no DNS name or IP address it accepts the host in the
// subject's common name instead; a leaf certificate without such a list is
// refused here during the handshake, before a request is sent.
//
// OpenSSL is reached through the copy libcurl has loaded (libssl.so.3 and
// libcrypto.so.3, looked up without loading anything), so the engine still
// starts without it and both work on the same SSL_CTX.
//
// Contract: Load once, after CurlApi::Load and before any transfer; Apply
// on every easy handle. The check runs inside OpenSSL's verification, on
// the engine's thread.

#include <curl/curl.h>

#include <string>

class CCertificateNameCheck {
public:
    // False, with the cause in *error, when libcurl's TLS library is not the
    // OpenSSL 3 this check is written for.
    static bool Load(std::string* error);
    static void Apply(CURL* easy);
};
