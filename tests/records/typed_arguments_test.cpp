#include "records/typed_arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <vector>

#include "core/logger_test_support.h"
#include "support/test_support.h"

namespace zun {
namespace {

using test::Double;
using test::Span;

// Renders a tagged list read lazily from the caller's list, then reads one
// more int: what the caller placed after the list's end.
WString RenderList(int* after, ...) {
  va_list args;
  va_start(args, after);
  TaggedListSource source(&args);
  WString out = u"|";
  EXPECT_RC(RC_OK, RenderTypedArguments(source.Source(), out));
  *after = va_arg(args, int);
  va_end(args);
  return out;
}

WString Render(std::vector<ZunTypedArgument> arguments) {
  test::ArgumentList source(std::move(arguments));
  WString out;
  EXPECT_RC(RC_OK, RenderTypedArguments(&source.face, out));
  return out;
}

TEST(TypedArgumentsTest, EveryTagReadsItsValueAndTheEndTagStopsTheList) {
  const char16_t* text = u"wide";
  int after = 0;
  const WString all =
      RenderList(&after, ZUN_TAG_INT32, -3, ZUN_TAG_UINT32, 0xFFFFFFFFu, ZUN_TAG_INT64, INT64_MIN,
                 ZUN_TAG_INT8, -5, ZUN_TAG_UINT8, 0xFF, ZUN_TAG_INT16, -2, ZUN_TAG_UINT16, 0xFFFF,
                 ZUN_TAG_INT32_B, 7, ZUN_TAG_UINT32_B, 8u, ZUN_TAG_INT64_B, 9ll, ZUN_TAG_UINT64, UINT64_MAX,
                 ZUN_TAG_INT32_AS_U64, -1, ZUN_TAG_DOUBLE, 0.25, ZUN_TAG_UINT16_AS_I64, 0xFFFF,
                 ZUN_TAG_WIDE_TEXT, text, ZUN_TAG_WIDE_TEXT_B, static_cast<const char16_t*>(nullptr),
                 ZUN_TAG_COUNTED_TEXT, text, 2u, ZUN_TAG_INT64_C, -10ll, ZUN_TAG_END, 31337);
  EXPECT_EQ(31337, after);  // read up to tag 17, no further
  EXPECT_EQ(
      u"|'INT64:0xfffffffffffffffd', 'QWORD:0x00000000ffffffff', 'INT64:0x8000000000000000', "
      u"'INT64:0xfffffffffffffffb', 'QWORD:0x00000000000000ff', 'INT64:0xfffffffffffffffe', "
      u"'QWORD:0x000000000000ffff', 'INT64:0x0000000000000007', 'QWORD:0x0000000000000008', "
      u"'INT64:0x0000000000000009', 'QWORD:0xffffffffffffffff', 'QWORD:0xffffffffffffffff', "
      u"'DOUBLE:2.5000000000000000e-01', 'INT64:0x000000000000ffff', 'STR:wide', 'STR:', 'STR:wi', "
      u"'INT64:0xfffffffffffffff6'",
      all);

  // Unknown tags end the list too; what follows is not an argument.
  EXPECT_EQ(u"|", RenderList(&after, 19, 556));
  EXPECT_EQ(556, after);
  EXPECT_EQ(u"|'QWORD:0x0000000000000003'", RenderList(&after, ZUN_TAG_UINT8, 3, -1, 557));
  EXPECT_EQ(557, after);
}

TEST(TypedArgumentsTest, RenderingWritesEachKindToTheByte) {
  EXPECT_EQ(
      u"'DOUBLE:1.5000000000000000e+00', 'DOUBLE:-inf', 'DOUBLE:inf', 'DOUBLE:nan', 'DOUBLE:nan', "
      u"'DOUBLE:-1.2345678900000000e-300'",
      Render({Double(1.5), Double(-INFINITY), Double(INFINITY), Double(NAN), Double(-NAN),
              Double(-1.23456789e-300)}));

  const unsigned char bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
  EXPECT_EQ(u"'BUF:007fa5ff', 'BUF:', 'BUF:'",
            Render({Span(ZUN_ARG_BUFFER, bytes, 4), Span(ZUN_ARG_BUFFER, bytes, 0),
                    Span(ZUN_ARG_BUFFER, nullptr, 3)}));

  // Escaping: a zero as backslash 0, CR and LF as U+000B, quotes doubled.
  const char16_t withZero[] = {u'a', 0, u'b', u'\r', u'\n', u'\'', u'\''};
  EXPECT_EQ(
      u"'STR:a\\0b\v\v''''', 'STR:', 'STR:ab'",
      Render({Span(ZUN_ARG_WIDE, withZero, 7), Span(ZUN_ARG_WIDE, nullptr), Span(ZUN_ARG_WIDE, u"abc", 2)}));

  // Narrow text is UTF-8; bytes that do not decode are written as a buffer.
  EXPECT_EQ(u"'STR:gr\u00FC''n', 'BUF:41c328', 'STR:ab'",
            Render({Span(ZUN_ARG_NARROW, "gr\xC3\xBC'n"), Span(ZUN_ARG_NARROW, "A\xC3(", 3),
                    Span(ZUN_ARG_NARROW, "abc", 2)}));

  EXPECT_EQ(u"'', ''", Render({ZunTypedArgument{}, test::Arg(42, 1)}));
  EXPECT_EQ(u"", Render({}));
  WString out = u"kept";
  ASSERT_RC(RC_OK, RenderTypedArguments(nullptr, out));
  EXPECT_EQ(u"kept", out);
}

}  // namespace
}  // namespace zun
