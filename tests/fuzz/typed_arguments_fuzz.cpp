// Typed arguments handed over by a host's argument source, as a host would
// hand them: any kind, numbers of any value, buffers and texts of any bytes,
// with a count, up to a terminating zero, or without data.
//
// Input: one byte of format length in UTF-16 units, the format's units, then
// arguments, each a head byte (low 3 bits: the kind, 0-7; bit 7: no data;
// bit 6: a text up to its zero) and 8 value bytes, or for buffers and texts
// a length byte and that many data bytes. Texts end with zeros after their
// data; buffers are allocated to their exact length.
//
// Checks:
// - without a message the record's text is the typed rendering, item by
//   item: the kind's prefix, the value in its fixed form, texts escaped so
//   that no line break and no zero is left;
// - with the input's format the message is what the formatter gives over the
//   same arguments, or a code for a bad kind or an argument left over, found
//   while measuring; measuring, formatting into a buffer of the measured
//   size and into a shorter one agree on the size and the text, which holds
//   no zero;
// - "%s" over each argument alone prints its value as text;
// - the host's source is read up to its end and never past it.
#include <cmath>

#include "fuzz_support.h"
#include "records/log_record.h"
#include "records/typed_arguments.h"
#include "records/wide_format.h"

namespace {

using namespace zun;
using fuzz::Check;

constexpr std::size_t kMaxArguments = 64;

// A host's source over a list: read once, and the end reported once.
struct HostSource {
  ZunArgumentSource face{&kTable};
  const std::vector<ZunTypedArgument>& arguments;
  std::size_t next = 0;
  bool ended = false;

  static uint8_t NextArgument(ZunArgumentSource* self, ZunTypedArgument* out) {
    auto* source = reinterpret_cast<HostSource*>(self);
    Check(!source->ended);
    source->ended = source->next == source->arguments.size();
    if (!source->ended) *out = source->arguments[source->next++];
    return !source->ended;
  }
  static constexpr ZunArgumentSourceVtbl kTable = {
      &fuzz::QueryHostInterface<ZUN_IID_ARGUMENT_SOURCE, ZunArgumentSource>, &NextArgument};
};

// The bytes or units an argument's span stands for.
template <typename Char>
std::basic_string<Char> SpanText(const ZunTypedArgument& a) {
  const auto* text = static_cast<const Char*>(a.value.span.data);
  if (text == nullptr) return {};
  const std::size_t length = a.value.span.length;
  return length == UINT32_MAX ? std::basic_string<Char>(text) : std::basic_string<Char>(text, length);
}

WString Hex(const std::string& bytes) {
  WString out;
  for (const unsigned char b : bytes) out += {u"0123456789abcdef"[b >> 4], u"0123456789abcdef"[b & 15]};
  return out;
}
WString Escaped(const WString& text) {
  WString out;
  for (const char16_t c : text) {
    out += c == 0       ? WString(u"\\0")
           : c == u'\'' ? WString(u"''")
                        : WString(1, c == u'\r' || c == u'\n' ? u'\v' : c);
  }
  return out;
}

// The item a typed rendering holds for `a`, between its quotes, quotes inside
// doubled.
WString ExpectedItem(const ZunTypedArgument& a) {
  WString text;
  char number[64];
  switch (a.kind) {
    case ZUN_ARG_UNSIGNED:
    case ZUN_ARG_SIGNED:
      std::snprintf(number, sizeof number, "0x%016llx",
                    a.kind == ZUN_ARG_SIGNED ? static_cast<unsigned long long>(a.value.i) : a.value.u);
      return (a.kind == ZUN_ARG_SIGNED ? u"INT64:" : u"QWORD:") + ToUtf16(number);
    case ZUN_ARG_NARROW:
      if (Succeeded(AppendUtf16FromUtf8(SpanText<char>(a), text))) return u"STR:" + Escaped(text);
      [[fallthrough]];
    case ZUN_ARG_BUFFER:
      return u"BUF:" + Hex(SpanText<char>(a));
    case ZUN_ARG_WIDE:
      return u"STR:" + Escaped(SpanText<char16_t>(a));
    case ZUN_ARG_DOUBLE:
      // Exponent form with 16 digits after the point; any NaN is "nan".
      std::snprintf(number, sizeof number, "%.16e", a.value.d);
      return u"DOUBLE:" + ToUtf16(std::isnan(a.value.d) ? "nan" : number);
    default:
      return {};
  }
}

ResultCode Build(std::uint32_t flags, const char16_t* message, const std::vector<ZunTypedArgument>& list,
                 LogRecord* record) {
  HostSource source{.arguments = list};
  const ResultCode rc = BuildRecord(u"fuzz", flags, nullptr, {.message = message}, &source.face, record);
  Check(source.ended && source.next == list.size());
  return rc;
}

// What the formatter writes for `format` over `list`: measured, then into a
// buffer of that size and into one of `small` units, which must fall short
// unless it holds the whole text.
ResultCode Format(const char16_t* format, const std::vector<ZunTypedArgument>& list, std::size_t small,
                  WString* out) {
  TypedArguments arguments;
  for (const ZunTypedArgument& a : list) Check(arguments.Append(a) == RC_OK);
  TypedArgumentCursor cursor(arguments);
  std::size_t size = 0, again = 0;
  const ResultCode rc = FormatWideTyped(nullptr, 0, format, cursor.Source(), &size);
  if (rc != RC_OK && rc != RC_INSUFFICIENT_BUFFER) return rc;
  Check(rc == (size == 1 ? RC_OK : RC_INSUFFICIENT_BUFFER));
  out->assign(size, u'#');
  cursor.Rewind();
  Check(FormatWideTyped(out->data(), size - 1, format, cursor.Source(), &again) == RC_OK);
  Check(again == size && out->back() == 0 && out->find(u'\0') == size - 1);
  out->pop_back();
  small %= size;
  WString shorter(small + 1, u'#');
  cursor.Rewind();
  const ResultCode shortRc = FormatWideTyped(shorter.data(), small, format, cursor.Source(), &again);
  Check(again == size && shortRc == (small + 1 == size ? RC_OK : RC_INSUFFICIENT_BUFFER));
  Check(out->compare(0, small, shorter, 0, small) == 0);
  return RC_OK;
}

// "%s" of one argument alone: a number in decimal, a double as "%g" gives
// it, a buffer in hex, a text up to its first zero (a message ends there).
void CheckAsText(const ZunTypedArgument& a) {
  LogRecord record;
  Check(Build(0, u"%s", {a}, &record) == (a.kind == 0 ? RC_BAD_ARGUMENT_KIND : RC_OK));
  char number[64] = "";
  if (a.kind == ZUN_ARG_DOUBLE) std::snprintf(number, sizeof number, "%g", a.value.d);
  WString text;
  if (a.kind == ZUN_ARG_NARROW && Failed(AppendUtf16FromUtf8(SpanText<char>(a), text))) return;
  Check(record.message == (a.kind == ZUN_ARG_UNSIGNED ? ToUtf16(std::to_string(a.value.u))
                           : a.kind == ZUN_ARG_SIGNED ? ToUtf16(std::to_string(a.value.i))
                           : a.kind == ZUN_ARG_DOUBLE ? ToUtf16(number)
                           : a.kind == ZUN_ARG_BUFFER ? Hex(SpanText<char>(a))
                           : a.kind == ZUN_ARG_WIDE   ? WString(UpToZero(SpanText<char16_t>(a)))
                                                      : WString(UpToZero(text))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in{data, size};
  const WString format = in.Units(in.Byte());

  std::vector<std::unique_ptr<std::uint8_t[]>> owned;
  std::vector<ZunTypedArgument> list;
  while (in.Left() > 0 && list.size() < kMaxArguments) {
    const std::uint8_t head = in.Byte();
    ZunTypedArgument& a = list.emplace_back();
    a.kind = head & 7;
    if (a.kind != ZUN_ARG_BUFFER && a.kind != ZUN_ARG_NARROW && a.kind != ZUN_ARG_WIDE) {
      a.value.u = in.Number(8);
      continue;
    }
    // Zero bytes after a text's data, up to a whole zero unit.
    const std::size_t length = in.Byte();
    std::uint8_t* bytes =
        owned.emplace_back(new std::uint8_t[length + (a.kind == ZUN_ARG_BUFFER ? 0 : 3)]()).get();
    for (std::size_t k = 0; k < length; ++k) bytes[k] = in.Byte();
    a.value.span.data = (head & 0x80) ? nullptr : bytes;
    const bool toZero = (head & 0x40) && a.kind != ZUN_ARG_BUFFER;
    a.value.span.length =
        toZero ? UINT32_MAX : static_cast<std::uint32_t>(a.kind == ZUN_ARG_WIDE ? length / 2 : length);
  }

  // Without a message: the typed rendering.
  LogRecord record;
  Check(Build(kLoggerFlagTypedMode, size % 2 ? nullptr : u"", list, &record) == RC_OK);
  WString expected;
  for (const ZunTypedArgument& a : list)
    expected += (expected.empty() ? u"'" : u", '") + ExpectedItem(a) + u"'";
  Check(record.message == expected);

  // With the input's format (up to its first zero, as the formatter reads it).
  const ResultCode rc = Build(0, format.c_str(), list, &record);
  WString formatted;
  Check(rc == Format(format.c_str(), list, size, &formatted));
  Check(rc == RC_OK ? record.message == formatted : rc == RC_EMPTY || rc == RC_BAD_ARGUMENT_KIND);

  for (const ZunTypedArgument& a : list) CheckAsText(a);
  return 0;
}
