#pragma once
// RSA public-key encryption (PKCS#1 v1.5) through libcrypto, and the fixed
// public key compiled into the library (the development key unless the
// build names another with ZUNLOGX_PUBLIC_KEY_PEM).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result_code.h"

struct rsa_st;

namespace zun {

inline constexpr std::size_t kPublicKeyModulusSize = 256;
// PKCS#1 v1.5 padding takes 11 bytes of every block.
inline constexpr std::size_t kRsaPaddingSize = 11;

// The fixed key: an odd exponent from 3 to 2^32 - 1 other than 65537, and a
// 2048-bit modulus, big-endian.
std::uint32_t PublicKeyExponent();
const std::uint8_t* PublicKeyModulus();

// One RSA public key, for one thread at a time: libcrypto caches values in
// the key object while it encrypts.
class RsaPublicKey {
 public:
  RsaPublicKey() = default;
  ~RsaPublicKey();
  RsaPublicKey(const RsaPublicKey&) = delete;
  RsaPublicKey& operator=(const RsaPublicKey&) = delete;

  // The modulus (big-endian) with the fixed exponent; replaces a key held
  // before. Length 0: RC_INVALID_PARAMETER; libcrypto refusing any step:
  // RC_OUT_OF_MEMORY, with no key held afterwards.
  ResultCode SetKey(const std::uint8_t* modulus, std::size_t length);
  // The modulus size in bytes (RSA_size); 0 without a key.
  std::size_t Size() const;
  // Encrypts up to Size() - 11 bytes into exactly Size() bytes of `output`.
  // Longer input: RC_INVALID_PARAMETER; no key: RC_NOT_INITIALISED; any other
  // result of libcrypto: RC_RSA_FAILED.
  ResultCode EncryptBlock(const std::uint8_t* input, std::size_t length,
                          std::vector<std::uint8_t>& output) const;

 private:
  rsa_st* rsa_ = nullptr;
};

}  // namespace zun
