#pragma once
// Independent readers of the protected forms, built on libcrypto's own
// base64, RSA and Blowfish: what a holder of the private key does with a log.
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

namespace zun::test {

// Base64 decoded by libcrypto; nothing for a malformed text.
inline std::optional<std::string> DecodeBase64(std::u16string_view text) {
  const std::string ascii = ToUtf8(text);
  if (ascii.empty() || ascii.size() % 4 != 0 || ascii.size() != text.size()) return std::nullopt;
  std::string out(ascii.size() / 4 * 3, '\0');
  const int n =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(ascii.data()), static_cast<int>(ascii.size()));
  if (n < 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(n) - (ascii.ends_with("==") ? 2 : ascii.ends_with("=") ? 1 : 0));
  return out;
}

// The development private key of tests/data/protect, loaded once.
inline RSA* DevelopmentPrivateKey() {
  static RSA* const key = [] {
    FILE* f = std::fopen(ZUNLOGX_TEST_DATA_DIR "/protect/dev_private_key.pem", "rb");
    RSA* rsa = f != nullptr ? PEM_read_RSAPrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f != nullptr) std::fclose(f);
    return rsa;
  }();
  return key;
}

// True for the default build, whose public key is the development key.
inline bool BuiltWithDevelopmentKey() {
  return std::string_view(ZUNLOGX_PUBLIC_KEY_INC) == "protect/dev_public_key.inc";
}

// Each PKCS#1 v1.5 block decrypted and the plaintexts joined; nothing when
// the length is not whole blocks or a block is refused.
inline std::optional<std::string> RsaDecryptBlocks(RSA* key, std::string_view blocks) {
  const auto size = static_cast<std::size_t>(RSA_size(key));
  if (blocks.empty() || blocks.size() % size != 0) return std::nullopt;
  std::string out, plain(size, '\0');
  for (std::size_t at = 0; at < blocks.size(); at += size) {
    const int n = RSA_private_decrypt(static_cast<int>(size),
                                      reinterpret_cast<const unsigned char*>(blocks.data() + at),
                                      reinterpret_cast<unsigned char*>(plain.data()), key, RSA_PKCS1_PADDING);
    if (n < 0) return std::nullopt;
    out.append(plain.data(), static_cast<std::size_t>(n));
  }
  return out;
}

// libcrypto's Blowfish over whole blocks of two little-endian halves.
inline std::string BlowfishCrypt(std::string_view key, std::string data, bool encrypt) {
  BF_KEY schedule;
  BF_set_key(&schedule, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
  auto* p = reinterpret_cast<unsigned char*>(data.data());
  for (std::size_t at = 0; at + 8 <= data.size(); at += 8) {
    BF_LONG halves[2] = {0, 0};
    for (int i = 0; i < 8; ++i) halves[i / 4] |= static_cast<BF_LONG>(p[at + i]) << (8 * (i % 4));
    encrypt ? BF_encrypt(halves, &schedule) : BF_decrypt(halves, &schedule);
    for (int i = 0; i < 8; ++i) p[at + i] = static_cast<unsigned char>(halves[i / 4] >> (8 * (i % 4)));
  }
  return data;
}

}  // namespace zun::test
