#pragma once
// Independent readers of the protected forms, built on libcrypto's own
// base64, RSA and Blowfish: what a holder of the private key and the
// scrambling table does with a log file.
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "protect/rsa_public_key.h"

namespace zun::test {

// ASCII of a base64 or digit text (every unit below 0x80), or "" if any
// unit is not ASCII.
inline std::string Ascii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x80) return {};
    out.push_back(static_cast<char>(c));
  }
  return out;
}

// Base64 decoded by libcrypto; `ok` false for a malformed text.
inline std::string DecodeBase64(std::u16string_view text, bool* ok) {
  const std::string ascii = Ascii(text);
  *ok = !ascii.empty() && ascii.size() % 4 == 0 && ascii.size() == text.size();
  if (!*ok) return {};
  std::string out(ascii.size() / 4 * 3, '\0');
  const int n =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(ascii.data()), static_cast<int>(ascii.size()));
  if (n < 0) {
    *ok = false;
    return {};
  }
  std::size_t padding = 0;
  if (ascii.ends_with("==")) {
    padding = 2;
  } else if (ascii.ends_with("=")) {
    padding = 1;
  }
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

struct RsaDeleter {
  void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaPtr = std::unique_ptr<RSA, RsaDeleter>;

// The development private key of tests/data/protect.
inline RsaPtr LoadDevelopmentPrivateKey() {
  FILE* f = std::fopen(ZUNLOGX_TEST_DATA_DIR "/protect/dev_private_key.pem", "rb");
  if (f == nullptr) return nullptr;
  RSA* rsa = PEM_read_RSAPrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  return RsaPtr(rsa);
}

// True for the default build, whose public key is the development key.
inline bool BuiltWithDevelopmentKey() {
  return std::string_view(ZUNLOGX_PUBLIC_KEY_INC) == "protect/dev_public_key.inc";
}

// True when the built-in public key is the public half of `privateKey`.
inline bool UsesDevelopmentKey(RSA* privateKey) {
  const BIGNUM* n = nullptr;
  const BIGNUM* e = nullptr;
  RSA_get0_key(privateKey, &n, &e, nullptr);
  unsigned char modulus[kPublicKeyModulusSize];
  return BN_num_bytes(n) == static_cast<int>(kPublicKeyModulusSize) &&
         BN_bn2binpad(n, modulus, sizeof(modulus)) == static_cast<int>(sizeof(modulus)) &&
         std::memcmp(modulus, PublicKeyModulus(), sizeof(modulus)) == 0 &&
         BN_get_word(e) == PublicKeyExponent();
}

// Each 256-byte PKCS#1 v1.5 block decrypted and the plaintexts joined;
// `ok` false when the length is not whole blocks or a block is refused.
inline std::string RsaDecryptBlocks(RSA* key, std::string_view blocks, bool* ok) {
  const auto size = static_cast<std::size_t>(RSA_size(key));
  *ok = !blocks.empty() && blocks.size() % size == 0;
  std::string out;
  std::string plain(size, '\0');
  for (std::size_t at = 0; *ok && at < blocks.size(); at += size) {
    const int n = RSA_private_decrypt(static_cast<int>(size),
                                      reinterpret_cast<const unsigned char*>(blocks.data() + at),
                                      reinterpret_cast<unsigned char*>(plain.data()), key, RSA_PKCS1_PADDING);
    if (n < 0) {
      *ok = false;
    } else {
      out.append(plain.data(), static_cast<std::size_t>(n));
    }
  }
  return out;
}

inline std::uint32_t LoadLittle32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline void StoreLittle32(std::uint32_t v, unsigned char* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// libcrypto's Blowfish over blocks of two little-endian halves (the layout of
// the "d" form). `ciphertext` must be whole blocks.
inline std::string BlowfishCrypt(std::string_view key, std::string_view data, bool encrypt) {
  BF_KEY schedule;
  BF_set_key(&schedule, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
  std::string out(data);
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t at = 0; at + 8 <= out.size(); at += 8) {
    BF_LONG halves[2] = {LoadLittle32(p + at), LoadLittle32(p + at + 4)};
    if (encrypt) {
      BF_encrypt(halves, &schedule);
    } else {
      BF_decrypt(halves, &schedule);
    }
    StoreLittle32(halves[0], p + at);
    StoreLittle32(halves[1], p + at + 4);
  }
  return out;
}

inline std::string Bytes(const void* data, std::size_t n) {
  return std::string(static_cast<const char*>(data), n);
}

}  // namespace zun::test
