// Ed25519 signatures of release manifests (libsodium). Keys and signatures travel as hex text:
// a public key is 64 hex digits, a secret key 128, a signature 128.
#pragma once

#include <string>

// A fresh key pair; false when the system's random source failed.
bool MakeSigningKeys(std::string& publicKeyHex, std::string& secretKeyHex);
// The detached signature of message, or "" when the secret key is malformed.
std::string SignMessage(const std::string& message, const std::string& secretKeyHex);
// The public key that belongs to a secret key, or "" when it is malformed.
std::string PublicKeyOf(const std::string& secretKeyHex);
// True only for a well-formed key and signature that sign exactly message.
bool SignatureIsValid(const std::string& message, const std::string& signatureHex, const std::string& publicKeyHex);
// A signature file holds one signature a line (several while a studio changes keys): true when
// one of them is valid for the key.
bool SignedWithKey(const std::string& message, const std::string& signatureLines, const std::string& publicKeyHex);
