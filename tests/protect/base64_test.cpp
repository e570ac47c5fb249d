#include "protect/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "protect/random_generator.h"
#include "protect_test_support.h"

namespace zun {
namespace {

WString Encode(std::string_view bytes) {
  WString out;
  EXPECT_EQ(RC_OK, AppendBase64(out, bytes.data(), bytes.size()));
  return out;
}

TEST(Base64, AppendsAfterTheTextAlreadyThere) {
  WString out = u"b";
  ASSERT_EQ(RC_OK, AppendBase64(out, "\0\0\0", 3));
  EXPECT_EQ(u"bAAAA", out);
  ASSERT_EQ(RC_OK, AppendBase64(out, nullptr, 0));
  EXPECT_EQ(u"bAAAA", out);
}

// Every length up to 300 covers each padding case many times over.
TEST(Base64, AgreesWithLibcryptoForEveryLengthUpTo300) {
  std::string bytes(300, '\0');
  RandomGenerator generator(7);
  generator.Fill(bytes.data(), bytes.size());
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    std::string expected(Base64Length(n) + 1, '\0');
    const int len =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(n));
    expected.resize(static_cast<std::size_t>(len));
    ASSERT_EQ(expected, test::Ascii(Encode(std::string_view(bytes).substr(0, n)))) << n << " bytes";
  }
}

}  // namespace
}  // namespace zun
