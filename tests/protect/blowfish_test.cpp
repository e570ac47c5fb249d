#include "protect/blowfish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/stream.h"
#include "protect/cipher_writer.h"
#include "protect/random_generator.h"
#include "protect_test_support.h"

namespace zun {
namespace {

// Published vectors give each half big-endian; our block stores each half
// little-endian, so `swap` reverses the bytes within each half.
std::vector<std::uint8_t> Hex(std::string_view hex, bool swap) {
  std::vector<std::uint8_t> out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::size_t from = swap ? i / 4 * 4 + 3 - i % 4 : i;
    out[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * from, 2)), nullptr, 16));
  }
  return out;
}

// From Eric Young's Blowfish test set: ECB vectors and variable key lengths.
constexpr const char* kVectors[][3] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, ReproducesThePublishedVectorsInOurHalfWordOrderAndRefusesBadLengths) {
  BlowfishCipher cipher;
  std::vector<std::uint8_t> out;
  const std::vector<std::uint8_t> long57(57, 0x5A);
  EXPECT_EQ(RC_NOT_INITIALISED, cipher.EncryptBlocks(long57.data(), 8, out));
  EXPECT_EQ(RC_NOT_SUPPORTED, cipher.SetKey(long57.data(), 57));
  EXPECT_EQ(RC_NOT_SUPPORTED, cipher.SetKey(long57.data(), 3));
  EXPECT_EQ(RC_OK, cipher.SetKey(long57.data(), 56));
  for (const auto& [key, plain, expected] : kVectors) {
    const std::vector<std::uint8_t> keyBytes = Hex(key, false), in = Hex(plain, true);
    ASSERT_EQ(RC_OK, cipher.SetKey(keyBytes.data(), keyBytes.size())) << key;
    ASSERT_EQ(RC_OK, cipher.EncryptBlocks(in.data(), in.size(), out));
    EXPECT_EQ(Hex(expected, true), out) << "key " << key << " plain " << plain;
  }
  EXPECT_EQ(RC_INVALID_PARAMETER, cipher.EncryptBlocks(long57.data(), 9, out));
  EXPECT_EQ(RC_INVALID_PARAMETER, cipher.EncryptFinal(long57.data(), 8, out));
}

TEST(CipherWriter, EncryptsBlocksAsTheyCompleteAndPadsOnlyAPartialLastBlock) {
  std::uint8_t key[40], plain[100];
  RandomGenerator generator(5);
  generator.Fill(key, sizeof(key));
  generator.Fill(plain, sizeof(plain));
  BlowfishCipher cipher;
  ASSERT_EQ(RC_OK, cipher.SetKey(key, sizeof(key)));
  MemoryStream sink;
  CipherWriter writer(cipher, sink);
  std::size_t at = 0;
  for (std::size_t piece : {1, 6, 0, 1, 9, 3, 20, 17}) {
    ASSERT_EQ(RC_OK, writer.Write(plain + at, piece, nullptr));
    at += piece;
    EXPECT_EQ(at / 8 * 8, sink.Size()) << "after " << at << " bytes";
  }
  ASSERT_EQ(RC_OK, writer.Finish());
  std::string padded = test::Bytes(plain, 57) + std::string(7, '\0');  // libcrypto's ciphertext, zero-padded
  EXPECT_EQ(test::BlowfishCrypt(test::Bytes(key, sizeof(key)), padded, true),
            test::Bytes(sink.Data(), sink.Size()));
  EXPECT_EQ(RC_INVALID_OPERATION, writer.Write(plain, 1, nullptr));
}

}  // namespace
}  // namespace zun
