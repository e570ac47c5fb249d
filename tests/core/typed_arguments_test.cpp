#include "core/typed_arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

// Reads a whole tagged list, then one more int: what the caller placed after
// the list's end.
std::vector<ZunTypedArgument> ReadList(int* after, ...) {
  va_list args;
  va_start(args, after);
  TypedArguments list;
  EXPECT_RC(RC_OK, ReadTaggedArguments(&args, &list));
  *after = va_arg(args, int);
  va_end(args);
  std::vector<ZunTypedArgument> out;
  for (std::size_t k = 0; k < list.Count(); ++k) out.push_back(list[k]);
  return out;
}

// Renders a tagged list through the lazy source.
WString RenderList(int dummy, ...) {
  va_list args;
  va_start(args, dummy);
  TaggedListSource source(&args);
  WString out;
  EXPECT_RC(RC_OK, RenderTypedArguments(source.Source(), out));
  va_end(args);
  return out;
}

WString Render(const std::vector<ZunTypedArgument>& arguments) {
  TypedArguments list;
  for (const ZunTypedArgument& a : arguments) EXPECT_RC(RC_OK, list.Append(a));
  TypedArgumentCursor cursor(list);
  WString out;
  EXPECT_RC(RC_OK, RenderTypedArguments(cursor.Source(), out));
  return out;
}

ZunTypedArgument Span(std::uint32_t kind, const void* data, std::uint32_t length) {
  ZunTypedArgument a{};
  a.kind = kind;
  a.value.span.data = data;
  a.value.span.length = length;
  return a;
}
ZunTypedArgument Double(double v) {
  ZunTypedArgument a{};
  a.kind = ZUN_ARG_DOUBLE;
  a.value.d = v;
  return a;
}

TEST(TypedArgumentsTest, EveryTagReadsItsValueAndKind) {
  const char16_t* text = u"wide";
  int after = 0;
  const std::vector<ZunTypedArgument> read =
      ReadList(&after, ZUN_TAG_INT32, -3, ZUN_TAG_UINT32, 0xFFFFFFFFu, ZUN_TAG_INT64, INT64_MIN, ZUN_TAG_INT8,
               -5, ZUN_TAG_UINT8, 0xFF, ZUN_TAG_INT16, -2, ZUN_TAG_UINT16, 0xFFFF, ZUN_TAG_INT32_B, 7,
               ZUN_TAG_UINT32_B, 8u, ZUN_TAG_INT64_B, 9ll, ZUN_TAG_UINT64, UINT64_MAX, ZUN_TAG_INT32_AS_U64,
               -1, ZUN_TAG_DOUBLE, 0.25, ZUN_TAG_UINT16_AS_I64, 0xFFFF, ZUN_TAG_WIDE_TEXT, text,
               ZUN_TAG_WIDE_TEXT_B, static_cast<const char16_t*>(nullptr), ZUN_TAG_COUNTED_TEXT, text, 2u,
               ZUN_TAG_INT64_C, -10ll, ZUN_TAG_END, 31337);
  EXPECT_EQ(31337, after);  // the list was read up to its end marker, no further
  ASSERT_EQ(18u, read.size());
  struct Expected {
    std::uint32_t kind;
    std::uint64_t bits;
  };
  const Expected numbers[] = {
      {ZUN_ARG_SIGNED, static_cast<std::uint64_t>(-3)},
      {ZUN_ARG_UNSIGNED, 0xFFFFFFFFull},
      {ZUN_ARG_SIGNED, 0x8000000000000000ull},
      {ZUN_ARG_SIGNED, static_cast<std::uint64_t>(-5)},
      {ZUN_ARG_UNSIGNED, 0xFF},
      {ZUN_ARG_SIGNED, static_cast<std::uint64_t>(-2)},
      {ZUN_ARG_UNSIGNED, 0xFFFF},
      {ZUN_ARG_SIGNED, 7},
      {ZUN_ARG_UNSIGNED, 8},
      {ZUN_ARG_SIGNED, 9},
      {ZUN_ARG_UNSIGNED, UINT64_MAX},
      {ZUN_ARG_UNSIGNED, UINT64_MAX},  // sign-extended into an unsigned
  };
  for (std::size_t k = 0; k < std::size(numbers); ++k) {
    EXPECT_EQ(numbers[k].kind, read[k].kind) << k;
    EXPECT_EQ(numbers[k].bits, read[k].value.u) << k;
  }
  EXPECT_EQ(ZUN_ARG_DOUBLE, read[12].kind);
  EXPECT_EQ(0.25, read[12].value.d);
  EXPECT_EQ(ZUN_ARG_SIGNED, read[13].kind);
  EXPECT_EQ(65535, read[13].value.i);  // zero-extended
  EXPECT_EQ(ZUN_ARG_WIDE, read[14].kind);
  EXPECT_EQ(text, read[14].value.span.data);
  EXPECT_EQ(UINT32_MAX, read[14].value.span.length);
  EXPECT_EQ(nullptr, read[15].value.span.data);
  EXPECT_EQ(text, read[16].value.span.data);
  EXPECT_EQ(2u, read[16].value.span.length);
  EXPECT_EQ(ZUN_ARG_SIGNED, read[17].kind);
  EXPECT_EQ(-10, read[17].value.i);
}

TEST(TypedArgumentsTest, EndTagsStopTheList) {
  int after = 0;
  EXPECT_EQ(1u, ReadList(&after, ZUN_TAG_INT32, 1, ZUN_TAG_END, 555).size());
  EXPECT_EQ(555, after);  // what follows tag 17 is never read as arguments
  EXPECT_EQ(0u, ReadList(&after, 19, 556).size());
  EXPECT_EQ(556, after);
  EXPECT_EQ(1u, ReadList(&after, ZUN_TAG_UINT8, 3, -1, 557).size());
  EXPECT_EQ(557, after);
  TypedArguments none;
  ASSERT_RC(RC_OK, ReadTaggedArguments(nullptr, &none));
  EXPECT_EQ(0u, none.Count());
  EXPECT_EQ(u"'INT64:0x0000000000000001'", RenderList(0, ZUN_TAG_INT32, 1, ZUN_TAG_END, ZUN_TAG_INT32, 2));
}

TEST(TypedArgumentsTest, RenderingWritesEachKindToTheByte) {
  EXPECT_EQ(u"'QWORD:0x00000000000000ff', 'STR:it''s', 'INT64:0xfffffffffffffffe'",
            RenderList(0, ZUN_TAG_UINT32, 255u, ZUN_TAG_WIDE_TEXT, u"it's", ZUN_TAG_INT32, -2, ZUN_TAG_END));
  EXPECT_EQ(u"", RenderList(0, ZUN_TAG_END));
  EXPECT_EQ(u"", Render({}));

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
  EXPECT_EQ(u"'STR:a\\0b\v\v''''', 'STR:', 'STR:ab'",
            Render({Span(ZUN_ARG_WIDE, withZero, 7), Span(ZUN_ARG_WIDE, nullptr, UINT32_MAX),
                    Span(ZUN_ARG_WIDE, u"abc", 2)}));
  EXPECT_EQ(u"'STR:x\vy'", RenderList(0, ZUN_TAG_WIDE_TEXT, u"x\ny", ZUN_TAG_END));

  // Narrow text is UTF-8; bytes that do not decode are written as a buffer.
  EXPECT_EQ(u"'STR:gr\u00FC''n', 'BUF:41c328', 'STR:ab'",
            Render({Span(ZUN_ARG_NARROW, "gr\xC3\xBC'n", UINT32_MAX), Span(ZUN_ARG_NARROW, "A\xC3(", 3),
                    Span(ZUN_ARG_NARROW, "abc", 2)}));

  ZunTypedArgument kindZero{};
  ZunTypedArgument unknown{};
  unknown.kind = 42;
  EXPECT_EQ(u"'', ''", Render({kindZero, unknown}));
}

TEST(TypedArgumentsTest, RenderingAppendsToWhatIsThere) {
  WString out = u"prefix ";
  ZunTypedArgument one{};
  one.kind = ZUN_ARG_UNSIGNED;
  one.value.u = 1;
  TypedArguments list;
  ASSERT_RC(RC_OK, list.Append(one));
  TypedArgumentCursor cursor(list);
  ASSERT_RC(RC_OK, RenderTypedArguments(cursor.Source(), out));
  EXPECT_EQ(u"prefix 'QWORD:0x0000000000000001'", out);
  ASSERT_RC(RC_OK, RenderTypedArguments(nullptr, out));
  EXPECT_EQ(u"prefix 'QWORD:0x0000000000000001'", out);
}

TEST(TypedArgumentsTest, CursorHandsOutManyArgumentsAndStartsOver) {
  TypedArguments list;
  for (std::uint64_t k = 0; k < 20; ++k) {
    ZunTypedArgument a{};
    a.kind = ZUN_ARG_UNSIGNED;
    a.value.u = k * 3;
    ASSERT_RC(RC_OK, list.Append(a));
  }
  TypedArgumentCursor cursor(list);
  ZunArgumentSource* source = cursor.Source();
  uint8_t found = 7;
  EXPECT_EQ(source, source->vtbl->QueryInterface(source, ZUN_IID_ARGUMENT_SOURCE, 1, &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(nullptr, source->vtbl->QueryInterface(source, ZUN_IID_ARGUMENT_SOURCE, 2, &found));
  EXPECT_EQ(0, found);
  EXPECT_EQ(nullptr, source->vtbl->QueryInterface(source, ZUN_IID_DISPATCH, 0, &found));
  EXPECT_EQ(0, found);
  for (int pass = 0; pass < 2; ++pass) {
    ZunTypedArgument a{};
    for (std::uint64_t k = 0; k < 20; ++k) {
      ASSERT_EQ(1, source->vtbl->NextArgument(source, &a));
      EXPECT_EQ(k * 3, a.value.u);
    }
    EXPECT_EQ(0, source->vtbl->NextArgument(source, &a));
    EXPECT_EQ(20u, cursor.Position());
    cursor.Rewind();
  }
}

}  // namespace
}  // namespace zun
