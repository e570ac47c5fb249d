#include "boundary/reconfigure_block.h"

#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

std::vector<std::uint8_t> Block(std::uint64_t count, const std::u16string& name, std::uint32_t selector) {
  std::vector<std::uint8_t> b;
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
  for (char16_t c : name) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(selector >> (8 * i)));
  return b;
}

TEST(ReconfigureBlock, DecodesLittleEndianFields) {
  const auto block = Block(5, u"a.cfg", 1);
  WString name;
  std::uint32_t selector = 7;
  ASSERT_RC(0u, DecodeReconfigureBlock(block.data(), block.size(), &name, &selector));
  EXPECT_EQ(u"a.cfg", name);
  EXPECT_EQ(1u, selector);
  // Without a known end the same bytes decode the same way.
  ASSERT_RC(0u, DecodeReconfigureBlock(block.data(), SIZE_MAX, &name, &selector));
  EXPECT_EQ(u"a.cfg", name);
}

TEST(ReconfigureBlock, RefusesBadCountsAndTruncation) {
  WString name;
  std::uint32_t selector = 0;
  auto big = Block(0x100000000ull, u"", 0);
  EXPECT_RC(RC_INVALID_DATA, DecodeReconfigureBlock(big.data(), big.size(), &name, &selector));
  auto allOnes = Block(0xFFFFFFFFull, u"", 0);
  EXPECT_RC(RC_INVALID_DATA, DecodeReconfigureBlock(allOnes.data(), allOnes.size(), &name, &selector));
  // Refused before room for four thousand million characters is asked for.
  auto beyondEnd = Block(0xFFFFFFFEull, u"ab", 0);
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(beyondEnd.data(), beyondEnd.size(), &name, &selector));

  const auto good = Block(3, u"abc", 2);
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), 7, &name, &selector));   // count
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), 13, &name, &selector));  // a unit
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), good.size() - 1, &name, &selector));
  EXPECT_RC(0u, DecodeReconfigureBlock(good.data(), good.size(), &name, &selector));
  EXPECT_EQ(2u, selector);
}

}  // namespace
}  // namespace zun
