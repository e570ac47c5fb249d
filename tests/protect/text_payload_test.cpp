#include "protect/text_payload.h"

#include <gtest/gtest.h>

#include <string>

namespace zun {
namespace {

TEST(TextPayload, IsTheTagByteThenUtf8) {
  std::string payload;
  ASSERT_EQ(RC_OK, MakeTextPayload(payload, u"abc"));
  EXPECT_EQ(std::string("aabc"), payload);

  payload.clear();
  ASSERT_EQ(RC_OK, MakeTextPayload(payload, u"\u4E2D"));
  EXPECT_EQ(std::string("\x61\xE4\xB8\xAD"), payload);

  payload.clear();
  ASSERT_EQ(RC_OK, MakeTextPayload(payload, u"\u00E9\U0001F600"));
  EXPECT_EQ(std::string("\x61\xC3\xA9\xF0\x9F\x98\x80"), payload);

  payload.clear();
  ASSERT_EQ(RC_OK, MakeTextPayload(payload, u""));
  EXPECT_EQ(std::string("a"), payload);
}

TEST(TextPayload, ConvertsLongTextsOfThreeByteCharactersCompletely) {
  const WString text(5000, u'\uFFFD');
  std::string payload;
  ASSERT_EQ(RC_OK, MakeTextPayload(payload, text));
  ASSERT_EQ(1u + 3 * text.size(), payload.size());
  EXPECT_EQ("\xEF\xBF\xBD", payload.substr(payload.size() - 3));
}

TEST(TextPayload, LoneSurrogatesFailAndLeaveTheBytesAlone) {
  const WString bad[] = {WString(u"x\xD800"), WString(u"\xD800x"), WString(u"\xDC00"),
                         WString(u"ab\xDBFF\xDBFF\xDC00")};
  for (const WString& text : bad) {
    std::string payload = "kept";
    EXPECT_EQ(RC_INVALID_DATA, MakeTextPayload(payload, text));
    EXPECT_EQ("kept", payload);
  }
}

}  // namespace
}  // namespace zun
