#include "protect/cipher_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/stream.h"
#include "protect/random_generator.h"
#include "protect_test_support.h"

namespace zun {
namespace {

class CipherWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RandomGenerator generator(5);
    generator.Fill(key_, sizeof(key_));
    generator.Fill(plain_, sizeof(plain_));
    ASSERT_EQ(RC_OK, cipher_.SetKey(key_, sizeof(key_)));
  }
  // What libcrypto makes of the first n plaintext bytes, zero-padded.
  std::string Expected(std::size_t n) {
    std::string padded = test::Bytes(plain_, n);
    padded.resize((n + 7) / 8 * 8, '\0');
    return test::BlowfishCrypt(test::Bytes(key_, sizeof(key_)), padded, true);
  }

  std::uint8_t key_[40];
  std::uint8_t plain_[100];
  BlowfishCipher cipher_;
};

TEST_F(CipherWriterTest, WritesWholeBlocksAsTheyCompleteAndPadsOnlyAPartialLastBlock) {
  MemoryStream sink;
  CipherWriter writer(cipher_, sink);
  std::size_t at = 0;
  for (std::size_t piece : {1, 6, 0, 1, 9, 3, 20, 17}) {
    std::size_t written = 99;
    ASSERT_EQ(RC_OK, writer.Write(plain_ + at, piece, &written));
    EXPECT_EQ(piece, written);
    at += piece;
    EXPECT_EQ(at / 8 * 8, sink.Size()) << "after " << at << " bytes";
  }
  ASSERT_EQ(RC_OK, writer.Finish());
  EXPECT_TRUE(writer.Finished());
  EXPECT_EQ(Expected(57), test::Bytes(sink.Data(), sink.Size()));
  EXPECT_EQ(RC_INVALID_OPERATION, writer.Write(plain_, 1, nullptr));

  for (std::size_t n : {0u, 8u, 96u}) {
    MemoryStream whole;
    CipherWriter wholeWriter(cipher_, whole);
    ASSERT_EQ(RC_OK, wholeWriter.Write(plain_, n, nullptr));
    ASSERT_EQ(RC_OK, wholeWriter.Finish());
    EXPECT_EQ(Expected(n), test::Bytes(whole.Data(), whole.Size())) << n << " bytes";
  }
}

TEST_F(CipherWriterTest, ASinkThatRefusesFailsTheWrite) {
  std::uint8_t small[8];
  MemoryStream sink(small, sizeof(small), 0, false);  // a fixed buffer of one block
  CipherWriter writer(cipher_, sink);
  ASSERT_EQ(RC_OK, writer.Write(plain_, 8, nullptr));
  std::size_t written = 99;
  EXPECT_TRUE(Failed(writer.Write(plain_ + 8, 8, &written)));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(Expected(8), test::Bytes(small, 8));
}

}  // namespace
}  // namespace zun
