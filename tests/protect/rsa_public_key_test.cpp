#include "protect/rsa_public_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protect_test_support.h"

namespace zun {
namespace {

TEST(RsaPublicKey, TheBuiltInKeyHasTheRequiredForm) {
  EXPECT_EQ(1u, PublicKeyExponent() % 2);
  EXPECT_GE(PublicKeyModulus()[0], 0x80) << "a full 2048-bit modulus";
  if (!test::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with another public key";
  EXPECT_NE(65537u, PublicKeyExponent());
  test::RsaPtr key = test::LoadDevelopmentPrivateKey();
  ASSERT_TRUE(key) << "tests/data/protect/dev_private_key.pem";
  EXPECT_TRUE(test::UsesDevelopmentKey(key.get())) << "the committed key data and the private key differ";
}

TEST(RsaPublicKey, RefusesOversizedInputMissingKeysAndEmptyModuli) {
  RsaPublicKey key;
  std::vector<std::uint8_t> out;
  const std::uint8_t bytes[300] = {};
  EXPECT_EQ(RC_NOT_INITIALISED, key.EncryptBlock(bytes, 1, out));
  EXPECT_EQ(RC_INVALID_PARAMETER, key.SetKey(PublicKeyModulus(), 0));
  EXPECT_FALSE(key.HasKey());
  ASSERT_EQ(RC_OK, key.SetKey(PublicKeyModulus(), kPublicKeyModulusSize));
  EXPECT_EQ(256u, key.Size());
  EXPECT_EQ(RC_INVALID_PARAMETER, key.EncryptBlock(bytes, 246, out));
  // Setting a key again replaces the old one.
  ASSERT_EQ(RC_OK, key.SetKey(PublicKeyModulus(), kPublicKeyModulusSize));
  ASSERT_EQ(RC_OK, key.EncryptBlock(bytes, 245, out));
  EXPECT_EQ(256u, out.size());
}

}  // namespace
}  // namespace zun
