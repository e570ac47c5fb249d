#include "protect/rsa_public_key.h"

#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <climits>
#include <new>

namespace zun {

namespace {

#define ZUN_PUBLIC_KEY_EXPONENT(value) constexpr std::uint32_t kExponent = value;
#define ZUN_PUBLIC_KEY_MODULUS(...)    constexpr std::uint8_t kModulus[] = {__VA_ARGS__};
#include ZUNLOGX_PUBLIC_KEY_INC
#undef ZUN_PUBLIC_KEY_EXPONENT
#undef ZUN_PUBLIC_KEY_MODULUS

static_assert(sizeof(kModulus) == kPublicKeyModulusSize, "the forms are built around a 2048-bit key");
static_assert(kExponent % 2 == 1 && kExponent >= 3, "an RSA public exponent is odd and above 1");
static_assert(kExponent != 65537, "the protected forms use an exponent other than the common 65537");

}  // namespace

std::uint32_t PublicKeyExponent() { return kExponent; }
const std::uint8_t* PublicKeyModulus() { return kModulus; }

RsaPublicKey::~RsaPublicKey() { RSA_free(rsa_); }

ResultCode RsaPublicKey::SetKey(const std::uint8_t* modulus, std::size_t length) {
  if (length == 0 || length > INT_MAX) return RC_INVALID_PARAMETER;
  RSA_free(rsa_);
  rsa_ = nullptr;

  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  BIGNUM* n = BN_bin2bn(modulus, static_cast<int>(length), nullptr);
  if (rsa == nullptr || e == nullptr || n == nullptr || BN_set_word(e, kExponent) != 1 ||
      RSA_set0_key(rsa, n, e, nullptr) != 1) {
    BN_free(n);
    BN_free(e);
    RSA_free(rsa);
    return RC_OUT_OF_MEMORY;
  }
  rsa_ = rsa;  // owns n and e now
  return RC_OK;
}

std::size_t RsaPublicKey::Size() const { return rsa_ ? static_cast<std::size_t>(RSA_size(rsa_)) : 0; }

ResultCode RsaPublicKey::EncryptBlock(const std::uint8_t* input, std::size_t length,
                                      std::vector<std::uint8_t>& output) const {
  if (rsa_ == nullptr) return RC_NOT_INITIALISED;
  const std::size_t size = Size();
  if (size < kRsaPaddingSize || length > size - kRsaPaddingSize) return RC_INVALID_PARAMETER;
  try {
    output.resize(size);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  const int done =
      RSA_public_encrypt(static_cast<int>(length), input, output.data(), rsa_, RSA_PKCS1_PADDING);
  return done == static_cast<int>(size) ? RC_OK : RC_RSA_FAILED;
}

}  // namespace zun
