#include "config/config_number.h"

#include <gtest/gtest.h>

#include "config/config_document.h"
#include "support/test_support.h"

namespace zun {
namespace {

TEST(ConfigNumber, LeadingDigitsOfTheBaseCountUntilTheValueWouldPassSixtyFourBits) {
  const struct {
    WStringView text;
    ResultCode rc;
    std::uint64_t value;
  } kCases[] = {
      {u"", RC_OK, 0},
      {u"100 entries", RC_OK, 100},
      {u"0XfFz", RC_OK, 255},
      {u"0x", RC_OK, 0},  // too short for the prefix: the "0" is read in base 10
      {u"012", RC_OK, 12},
      {u"18446744073709551615", RC_OK, UINT64_MAX},
      {u"18446744073709551616", RC_OK, 1844674407370955161ull},
      {u"0x1234567890abcdef12", RC_OK, 0x1234567890abcdefull},
      {u"-1", RC_INVALID_PARAMETER, 7},
      {u" 5", RC_OK, 0},
  };
  for (const auto& c : kCases) {
    std::uint64_t value = 7;
    EXPECT_RC(c.rc, ParseNumber64(c.text, &value)) << ToUtf8(c.text);
    EXPECT_EQ(c.value, value) << ToUtf8(c.text);
  }
  std::uint32_t low = 0;
  ASSERT_RC(RC_OK, ParseNumber32(u"0x100000005", &low));
  EXPECT_EQ(5u, low);

  ConfigSectionRef section;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"s", &section));
  ASSERT_RC(RC_OK, section->SetValue(u"Size", u"4096"));
  std::uint64_t size = 1;
  EXPECT_RC(RC_ITEM_NOT_PRESENT, GetNumber64(*section, u"size", &size));
  EXPECT_EQ(1u, size);
  EXPECT_RC(RC_OK, GetNumber64(*section, u"Size", &size));
  EXPECT_EQ(4096u, size);
}

}  // namespace
}  // namespace zun
