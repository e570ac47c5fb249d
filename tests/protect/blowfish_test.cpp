#include "protect/blowfish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(Blowfish, ReproducesThePublishedVectorsInOurHalfWordOrder) {
  BlowfishCipher cipher;
  std::vector<std::uint8_t> out;
  for (const auto& [key, plain, expected] : kVectors) {
    const std::vector<std::uint8_t> keyBytes = Hex(key, false), in = Hex(plain, true);
    ASSERT_EQ(RC_OK, cipher.SetKey(keyBytes.data(), keyBytes.size())) << key;
    ASSERT_EQ(RC_OK, cipher.EncryptBlocks(in.data(), in.size(), out));
    EXPECT_EQ(Hex(expected, true), out) << "key " << key << " plain " << plain;
  }
}

}  // namespace
}  // namespace zun
