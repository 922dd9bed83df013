#include "support/signature.h"

#include <sodium.h>

#include "support/sha256.h"

namespace {

bool Ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool MakeSigningKeys(std::string& publicKeyHex, std::string& secretKeyHex) {
  if (!Ready()) return false;
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], secretKey[crypto_sign_SECRETKEYBYTES];
  if (crypto_sign_keypair(publicKey, secretKey) != 0) return false;
  publicKeyHex = ToHex(publicKey, sizeof publicKey);
  secretKeyHex = ToHex(secretKey, sizeof secretKey);
  sodium_memzero(secretKey, sizeof secretKey);
  return true;
}

std::string SignMessage(const std::string& message, const std::string& secretKeyHex) {
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES], signature[crypto_sign_BYTES];
  if (!Ready() || !FromHex(secretKeyHex, secretKey, sizeof secretKey)) return "";
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       secretKey);
  sodium_memzero(secretKey, sizeof secretKey);
  return ToHex(signature, sizeof signature);
}

std::string PublicKeyOf(const std::string& secretKeyHex) {
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES], publicKey[crypto_sign_PUBLICKEYBYTES];
  if (!Ready() || !FromHex(secretKeyHex, secretKey, sizeof secretKey)) return "";
  crypto_sign_ed25519_sk_to_pk(publicKey, secretKey);
  sodium_memzero(secretKey, sizeof secretKey);
  return ToHex(publicKey, sizeof publicKey);
}

bool SignedWithKey(const std::string& message, const std::string& signatureLines, const std::string& publicKeyHex) {
  for (size_t start = 0; start < signatureLines.size();) {
    size_t end = signatureLines.find('\n', start);
    if (end == std::string::npos) end = signatureLines.size();
    std::string line = signatureLines.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (SignatureIsValid(message, line, publicKeyHex)) return true;
    start = end + 1;
  }
  return false;
}

bool SignatureIsValid(const std::string& message, const std::string& signatureHex, const std::string& publicKeyHex) {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], signature[crypto_sign_BYTES];
  if (!Ready() || !FromHex(publicKeyHex, publicKey, sizeof publicKey) ||
      !FromHex(signatureHex, signature, sizeof signature))
    return false;
  return crypto_sign_verify_detached(signature, reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), publicKey) == 0;
}
