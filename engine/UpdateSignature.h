#pragma once
// Authentication of the engine update: the update description is signed
// with Ed25519 by the maker's update-site builder, and every file carries a
// SHA-256 besides its MD4 digest list.
//
// Contract:
// - The service verifies against the public key fixed at build time
//   (the CMake setting ZDR_UPDATE_PUBLIC_KEY, a PEM file; by default the
//   demo key pair in tools/update-site/).
// - The signature covers the description's exact bytes and is the raw
//   64-byte Ed25519 signature, kept beside the description as
//   kSignatureFileSuffix.
// - Nothing here throws or logs; a key that cannot be read, a signature of
//   another length or one that does not match all answer false.

#include <cstddef>
#include <string>

constexpr size_t kSha256Size = 32;
constexpr size_t kEd25519SignatureSize = 64;
constexpr const char* kSignatureFileSuffix = ".sig";

// The lower-case hexadecimal SHA-256 of the bytes (64 characters), the form
// of the description's "sha256" attributes.
std::string Sha256Hex(const void* data, size_t size);
// True when the two hexadecimal texts name the same digest (either case).
bool SameSha256Hex(const std::string& a, const std::string& b);

// The built-in public key (PEM text).
const char* UpdatePublicKeyPem();

bool VerifyUpdateSignature(const void* data, size_t size, const void* signature, size_t signatureSize);
bool VerifyEd25519(const std::string& publicKeyPem, const void* data, size_t size, const void* signature,
                   size_t signatureSize);
// The raw signature of the bytes with a PEM private key (the site builder's
// half); empty when the key cannot be used.
std::string SignEd25519(const std::string& privateKeyPem, const void* data, size_t size);
