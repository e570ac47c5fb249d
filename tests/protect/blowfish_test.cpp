#include "protect/blowfish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protect/random_generator.h"
#include "protect_test_support.h"

namespace zun {
namespace {

std::vector<std::uint8_t> Hex(std::string_view hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

// Published vectors give the halves big-endian; our block stores each half
// little-endian, so the bytes of each half are reversed on the way in and out.
std::vector<std::uint8_t> SwapHalves(std::vector<std::uint8_t> block) {
  std::swap(block[0], block[3]);
  std::swap(block[1], block[2]);
  std::swap(block[4], block[7]);
  std::swap(block[5], block[6]);
  return block;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Eric Young's Blowfish test set: the ECB vectors, then some of the variable
// key lengths (shorter than 4 bytes is refused here).
constexpr Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
    {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(Blowfish, ReproducesThePublishedVectorsInOurHalfWordOrder) {
  for (const Vector& v : kVectors) {
    const std::vector<std::uint8_t> key = Hex(v.key);
    BlowfishCipher cipher;
    ASSERT_EQ(RC_OK, cipher.SetKey(key.data(), key.size())) << v.key;
    std::vector<std::uint8_t> out;
    const std::vector<std::uint8_t> in = SwapHalves(Hex(v.plain));
    ASSERT_EQ(RC_OK, cipher.EncryptBlocks(in.data(), in.size(), out));
    EXPECT_EQ(Hex(v.cipher), SwapHalves(out)) << "key " << v.key << " plain " << v.plain;
  }
}

TEST(Blowfish, AgreesWithLibcryptoOverManyBlocksWithASessionSizedKey) {
  RandomGenerator generator(99);
  std::string key(40, '\0'), data(8 * 64, '\0');
  generator.Fill(key.data(), key.size());
  generator.Fill(data.data(), data.size());
  BlowfishCipher cipher;
  ASSERT_EQ(RC_OK, cipher.SetKey(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()));
  std::vector<std::uint8_t> out;
  ASSERT_EQ(RC_OK,
            cipher.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), out));
  EXPECT_EQ(test::BlowfishCrypt(key, data, true), test::Bytes(out.data(), out.size()));
  // A second key replaces the first schedule completely.
  ASSERT_EQ(RC_OK, cipher.SetKey(reinterpret_cast<const std::uint8_t*>(key.data()), 4));
  ASSERT_EQ(RC_OK, cipher.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(data.data()), 8, out));
  EXPECT_EQ(test::BlowfishCrypt(key.substr(0, 4), data.substr(0, 8), true),
            test::Bytes(out.data(), out.size()));
}

TEST(Blowfish, RefusesBadLengthsAndZeroPadsTheFinalBlock) {
  const std::vector<std::uint8_t> key(57, 0x5A);
  BlowfishCipher cipher;
  std::vector<std::uint8_t> out{1, 2, 3};
  EXPECT_EQ(RC_NOT_INITIALISED, cipher.EncryptBlocks(key.data(), 8, out));
  EXPECT_EQ(RC_NOT_SUPPORTED, cipher.SetKey(key.data(), 3));
  EXPECT_EQ(RC_NOT_SUPPORTED, cipher.SetKey(key.data(), 57));
  EXPECT_EQ(RC_OK, cipher.SetKey(key.data(), 56));
  ASSERT_EQ(RC_OK, cipher.SetKey(key.data(), 4));
  EXPECT_EQ(RC_INVALID_PARAMETER, cipher.EncryptBlocks(key.data(), 9, out));
  EXPECT_EQ(RC_INVALID_PARAMETER, cipher.EncryptFinal(key.data(), 8, out));

  ASSERT_EQ(RC_OK, cipher.EncryptFinal(key.data(), 0, out));
  EXPECT_TRUE(out.empty());
  const std::uint8_t seven[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0x77};
  ASSERT_EQ(RC_OK, cipher.EncryptFinal(seven, 7, out));
  ASSERT_EQ(8u, out.size());
  EXPECT_EQ(std::string("abcdefg\0", 8),
            test::BlowfishCrypt(test::Bytes(key.data(), 4), test::Bytes(out.data(), 8), false));
}

}  // namespace
}  // namespace zun
