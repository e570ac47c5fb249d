#include "records/wide_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "core/logger_test_support.h"
#include "records/typed_arguments.h"
#include "support/test_support.h"

namespace zun {
namespace {

WString FailureText(ResultCode rc) { return u"failed: " + ToUtf16(test::DescribeCode(rc)); }

// Formats with a generous buffer; failures show up as the code's name.
WString Format(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  char16_t buffer[4096];
  std::size_t size = 0;
  const ResultCode rc = FormatWide(buffer, 4095, format, &args, &size);
  va_end(args);
  if (rc != RC_OK) return FailureText(rc);
  EXPECT_EQ(WideLength(buffer) + 1, size);
  return WString(buffer, size - 1);
}

// The C library's narrow printf of the same format and arguments, widened.
WString CPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[4096];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return ToUtf16(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0));
}

// Our formatter agrees with printf for a conversion both know.
#define EXPECT_LIKE_PRINTF(format, ...) \
  EXPECT_EQ(CPrintf(format, __VA_ARGS__), Format(u"" format, __VA_ARGS__)) << format

TEST(WideFormatTest, IntegersFollowPrintfFlagsWidthPrecisionAndSizePrefixes) {
  EXPECT_LIKE_PRINTF("[%5d][%-5d][%05d][%+i][% d][%+05d]", 42, 42, -42, 42, 42, -7);
  EXPECT_LIKE_PRINTF("[%.3d][%8.3d][%-8.3d|][%08.3d][%.0d][%5.0d]", 7, -7, 7, 7, 0, 0);
  EXPECT_LIKE_PRINTF("[%o][%#o][%#o][%x][%#x][%#X][%#x][%08X]", 8, 8, 0, 255, 255, 255, 0, 0xBEEF);
  EXPECT_LIKE_PRINTF("[%#.3o][%#5x][%-#8x|][%#08x]", 8, 10, 10, 10);
  EXPECT_LIKE_PRINTF("[%hhd][%hhu][%hd][%hu][%hx]", 300, 300, 70000, 70000, -1);
  EXPECT_LIKE_PRINTF("[%ld][%lu][%lld][%llx][%zu][%jd][%td]", -5L, 5UL, -9000000000LL, 0xFFFFFFFFFFULL,
                     static_cast<std::size_t>(123), static_cast<intmax_t>(-1), static_cast<ptrdiff_t>(-3));
  EXPECT_LIKE_PRINTF("[%*d][%-*d|][%.*d][%*.*d]", 6, 42, 6, 42, 4, 42, 7, 3, -1);
  EXPECT_LIKE_PRINTF("[%*d|][%.*d]", -6, 42, -1, 42);  // negative width: left; negative precision: none
  EXPECT_LIKE_PRINTF("%lld %llu", static_cast<long long>(INT64_MIN),
                     static_cast<unsigned long long>(UINT64_MAX));
  // Windows size prefixes read their width; a 64-bit value does not spill
  // into the next conversion.
  EXPECT_EQ(u"18446744073709551615 -1 4294967295 -9000000000",
            Format(u"%Iu %I32d %I32u %I64d", SIZE_MAX, -1, 0xFFFFFFFFu, -9000000000LL));
  EXPECT_EQ(u"1099511627776 next", Format(u"%I64u %s", 1ull << 40, u"next"));
}

TEST(WideFormatTest, FloatingPointFollowsPrintf) {
  EXPECT_LIKE_PRINTF("[%f][%.2f][%10.3e][%-12g|][%+E][%G][%#.0f][%010.2f]", 3.14159, 2.675, 12345.678, 0.0001,
                     1.5, 1e-10, 3.0, -3.25);
  EXPECT_LIKE_PRINTF("[%e][%f][%010f][%-6f|][%+g]", INFINITY, -INFINITY, INFINITY, NAN, 0.0);
  EXPECT_LIKE_PRINTF("[%Lf][%Le]", 1.25L, -2.5L);
  EXPECT_LIKE_PRINTF("%.30f", 1e300);  // longer than the formatter's own narrow buffer
}

TEST(WideFormatTest, TextConversionsAndDirectivesCopiedAsWritten) {
  const char16_t counted[] = {u'a', u'b', u'c', u'd'};  // no terminating zero
  EXPECT_EQ(u"[hi][(null)][  hi][hi  ][h][(nu]",
            Format(u"[%s][%s][%4s][%-4s][%.1s][%.3s]", u"hi", static_cast<const char16_t*>(nullptr), u"hi",
                   u"hi", u"hi", static_cast<const char16_t*>(nullptr)));
  // A counted text ends at a zero inside its count.
  EXPECT_EQ(u"[abc][ ab][(null)][whole][x][p]",
            Format(u"[%r][%3.2r][%r][%r][%r][%hr]", counted, 3u, counted, 4u,
                   static_cast<const char16_t*>(nullptr), 0u, u"whole", UINT32_MAX, u"x\0y", 3u, "p\0q", 3u));
  EXPECT_EQ(
      u"[gr\u00FC\u00DF][  \u00FC][\U0001F600][\uFFFD!]",
      Format(u"[%hs][%3.1hs][%hs][%hs]", "gr\xC3\xBC\xC3\x9F", "\xC3\xBC", "\xF0\x9F\x98\x80", "\xC3!"));
  // Precision never splits a surrogate pair.
  EXPECT_EQ(u"[]", Format(u"[%.1hs]", "\xF0\x9F\x98\x80"));
  EXPECT_EQ(u"[A][  \u20AC][x][\u00E9]", Format(u"[%c][%3c][%hc][%hc]", u'A', u'\u20AC', 'x', 0xE9));
  // A zero character ends the text; the arguments after it are still taken.
  EXPECT_EQ(u"[ ", Format(u"[%2c]%d", 0, 5));
  // Directives it cannot use are copied as written.
  EXPECT_EQ(u"100% [%k] 5", Format(u"100%% [%k] %d", 5));
  EXPECT_EQ(u"tail %-5", Format(u"tail %-5"));
  EXPECT_EQ(u"%n stays", Format(u"%n stays"));
  // A field wider than the limit is refused whole and takes no argument.
  EXPECT_EQ(u"%99999d 7", Format(u"%99999d %d", 7));
}

using test::Arg;
using test::Double;
using test::Signed;
using test::Span;
using test::Unsigned;

// As Format, with a host's typed arguments.
WString FormatTyped(const char16_t* format, std::vector<ZunTypedArgument> arguments) {
  test::ArgumentList source(std::move(arguments));
  char16_t buffer[1024];
  std::size_t size = 0;
  const ResultCode rc = FormatWideTyped(buffer, 1023, format, &source.face, &size);
  return rc == RC_OK ? WString(buffer, size - 1) : FailureText(rc);
}

TEST(WideFormatTest, TypedArgumentsFollowTheirKind) {
  EXPECT_EQ(
      u"-5 18446744073709551615 ff FF 18446744073709551615 fffffffffffffffe 002.2 1.500000E+03 1E-20 Z -12 "
      u"12 0.5",
      FormatTyped(u"%d %u %x %X %d %x %05.1f %E %G %c %s %s %s",
                  {Signed(-5), Signed(-1), Unsigned(255), Unsigned(255), Unsigned(UINT64_MAX), Signed(-2),
                   Double(2.25), Double(1500), Double(1e-20), Unsigned(u'Z'), Signed(-12), Unsigned(12),
                   Double(0.5)}));
  // Size prefixes do not narrow typed values; a null text is empty; an
  // unknown kind writes nothing.
  const unsigned char bytes[] = {0x0A, 0xBC, 0xFF};
  EXPECT_EQ(u"[-7][3.000000e+00][B][0abcff][0ABCFF][abc][gr\u00FC   |][70000][][]",
            FormatTyped(u"[%d][%e][%c][%x][%X][%.3s][%-6s|][%hd][%d][%f]",
                        {Double(-7.9), Signed(3), Double(66.0), Span(ZUN_ARG_BUFFER, bytes, 3),
                         Span(ZUN_ARG_BUFFER, bytes, 3), Span(ZUN_ARG_WIDE, u"abcdef"),
                         Span(ZUN_ARG_NARROW, "gr\xC3\xBC", 4), Signed(70000), Span(ZUN_ARG_WIDE, nullptr, 5),
                         Arg(9, 1)}));
  EXPECT_EQ(
      u"[1   ][xy][u][n]",
      FormatTyped(u"[%*d][%.*s][%s][%s]", {Signed(-4), Signed(1), Unsigned(2), Span(ZUN_ARG_WIDE, u"xyz", 3),
                                           Span(ZUN_ARG_WIDE, u"u\0v", 3), Span(ZUN_ARG_NARROW, "n\0o", 3)}));
  EXPECT_EQ(u"a", FormatTyped(u"a%cb%d", {Unsigned(0), Signed(1)}));  // all arguments still taken
  // A conversion without an argument stays as written; an argument without
  // a conversion, or of a kind the conversion cannot take, is refused.
  EXPECT_EQ(u"1 and %5s", FormatTyped(u"%d and %5s", {Signed(1)}));
  EXPECT_EQ(FailureText(RC_EMPTY), FormatTyped(u"%d", {Signed(1), Signed(2)}));
  EXPECT_EQ(FailureText(RC_BAD_ARGUMENT_KIND), FormatTyped(u"%d %d", {Signed(1), Arg(0, 2)}));
  EXPECT_EQ(FailureText(RC_BAD_ARGUMENT_KIND), FormatTyped(u"%*d", {Span(ZUN_ARG_WIDE, u"4", 1), Signed(1)}));
}

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
}

}  // namespace
}  // namespace zun
