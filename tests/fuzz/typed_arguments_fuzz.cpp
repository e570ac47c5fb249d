// Typed arguments handed over by a host's argument source, as a host would
// hand them: any kind, numbers of any value, buffers and texts of any bytes,
// with a count, up to a terminating zero, or without data.
//
// Input: one byte of format length in UTF-16 units, the format's units, then
// arguments, each a head byte (low 3 bits: the kind, 0-7; bit 7: no data;
// bit 6: a text up to its zero) and 8 value bytes, or for buffers and texts
// a length byte and that many data bytes. Texts end with a zero after their
// data; buffers are allocated to their exact length.
//
// Checks:
// - without a message the record's text is the typed rendering, which reads
//   back item by item: the kind's prefix, the value in its fixed form, texts
//   escaped so that no line break and no zero is left;
// - with the input's format the message is what one pass of the formatter
//   gives over the same arguments, or a code for a bad kind or an argument
//   left over;
// - "%s" over each argument alone prints its value as text;
// - the host's source is read up to its end and never past it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "records/log_record.h"
#include "records/typed_arguments.h"
#include "records/wide_format.h"

namespace {

using zun::WString;
using zun::fuzz::Check;

constexpr std::size_t kMaxArguments = 64;

// A host's source over a list: read once, and the end reported once.
struct HostSource {
  ZunArgumentSource face;
  const std::vector<ZunTypedArgument>* arguments;
  std::size_t next = 0;
  bool ended = false;

  explicit HostSource(const std::vector<ZunTypedArgument>& list) : face{&kTable}, arguments(&list) {}

  static void* QueryInterface(ZunArgumentSource* self, uint32_t id, uint32_t version, uint8_t* found) {
    const bool match = id == ZUN_IID_ARGUMENT_SOURCE && version < 2;
    if (found != nullptr) *found = match;
    return match ? self : nullptr;
  }
  static uint8_t NextArgument(ZunArgumentSource* self, ZunTypedArgument* out) {
    auto* source = reinterpret_cast<HostSource*>(self);
    Check(!source->ended);
    if (source->next == source->arguments->size()) {
      source->ended = true;
      return 0;
    }
    *out = (*source->arguments)[source->next++];
    return 1;
  }
  static constexpr ZunArgumentSourceVtbl kTable = {&QueryInterface, &NextArgument};

  bool ReadWhole() const { return ended && next == arguments->size(); }
};

bool IsSpan(std::uint32_t kind) {
  return kind == ZUN_ARG_BUFFER || kind == ZUN_ARG_NARROW || kind == ZUN_ARG_WIDE;
}

// The bytes or units an argument's span stands for.
std::string NarrowText(const ZunTypedArgument& a) {
  const auto* bytes = static_cast<const char*>(a.value.span.data);
  if (bytes == nullptr) return {};
  return a.value.span.length == UINT32_MAX ? std::string(bytes) : std::string(bytes, a.value.span.length);
}
WString WideText(const ZunTypedArgument& a) {
  const auto* units = static_cast<const char16_t*>(a.value.span.data);
  if (units == nullptr) return {};
  return a.value.span.length == UINT32_MAX ? WString(units) : WString(units, a.value.span.length);
}

WString Hex(const std::string& bytes) {
  WString out;
  for (const unsigned char b : bytes) {
    out.push_back(u"0123456789abcdef"[b >> 4]);
    out.push_back(u"0123456789abcdef"[b & 15]);
  }
  return out;
}
WString Hex64(std::uint64_t value) {
  std::string bytes;
  for (int k = 7; k >= 0; --k) bytes.push_back(static_cast<char>(value >> (8 * k)));
  return Hex(bytes);
}

WString Escaped(const WString& text) {
  WString out;
  for (const char16_t c : text) {
    if (c == 0) {
      out += u"\\0";
    } else if (c == u'\r' || c == u'\n') {
      out += u'\v';
    } else {
      out += c;
      if (c == u'\'') out += c;
    }
  }
  return out;
}

// The item a typed rendering holds for `a`, between its quotes, quotes inside
// still doubled. Doubles are read back instead (CheckDoubleItem).
WString ExpectedItem(const ZunTypedArgument& a) {
  switch (a.kind) {
    case ZUN_ARG_UNSIGNED:
      return u"QWORD:0x" + Hex64(a.value.u);
    case ZUN_ARG_SIGNED:
      return u"INT64:0x" + Hex64(static_cast<std::uint64_t>(a.value.i));
    case ZUN_ARG_BUFFER:
      return u"BUF:" + Hex(a.value.span.data
                               ? std::string(static_cast<const char*>(a.value.span.data), a.value.span.length)
                               : std::string());
    case ZUN_ARG_NARROW: {
      WString text;
      if (zun::Failed(zun::AppendUtf16FromUtf8(NarrowText(a), text))) return u"BUF:" + Hex(NarrowText(a));
      return u"STR:" + Escaped(text);
    }
    case ZUN_ARG_WIDE:
      return u"STR:" + Escaped(WideText(a));
    default:
      return {};
  }
}

void CheckDoubleItem(const WString& item, double value) {
  Check(item.compare(0, 7, u"DOUBLE:") == 0);
  const std::string text = zun::ToUtf8(item.substr(7));
  if (std::isnan(value)) return Check(text == "nan");
  if (std::isinf(value)) return Check(text == (value < 0 ? "-inf" : "inf"));
  char* end = nullptr;
  const double back = std::strtod(text.c_str(), &end);
  Check(*end == 0 && text.find('e') != std::string::npos);
  Check(std::memcmp(&back, &value, sizeof back) == 0);
}

// Splits "'a', 'b'" into its items; a doubled quote stays inside its item.
std::vector<WString> Items(const WString& text) {
  std::vector<WString> items;
  std::size_t at = 0;
  while (at < text.size()) {
    if (!items.empty()) {
      Check(text.compare(at, 2, u", ") == 0);
      at += 2;
    }
    Check(at < text.size() && text[at] == u'\'');
    WString item;
    for (++at;; ++at) {
      Check(at < text.size());
      if (text[at] == u'\'' && (at + 1 == text.size() || text[at + 1] != u'\'')) break;
      if (text[at] == u'\'') item += text[at++];
      item += text[at];
    }
    ++at;
    items.push_back(item);
  }
  return items;
}

zun::ResultCode Build(std::uint32_t flags, const char16_t* message, const std::vector<ZunTypedArgument>& list,
                      zun::LogRecord* record) {
  HostSource source(list);
  zun::LogCall call;
  call.message = message;
  const zun::ResultCode rc = zun::BuildRecord(u"fuzz", flags, nullptr, call, &source.face, record);
  Check(source.ReadWhole());
  return rc;
}

// What one pass of the formatter writes for `format` over `list`.
zun::ResultCode FormatOnce(const char16_t* format, const std::vector<ZunTypedArgument>& list, WString* out) {
  zun::TypedArguments arguments;
  for (const ZunTypedArgument& a : list) Check(arguments.Append(a) == zun::RC_OK);
  zun::TypedArgumentCursor cursor(arguments);
  std::size_t size = 0;
  zun::ResultCode rc = zun::FormatWideTyped(nullptr, 0, format, cursor.Source(), &size);
  if (rc != zun::RC_OK && rc != zun::RC_INSUFFICIENT_BUFFER) return rc;
  out->assign(size, u'#');
  cursor.Rewind();
  rc = zun::FormatWideTyped(out->data(), size - 1, format, cursor.Source(), &size);
  out->resize(size - 1);
  return rc;
}

// "%s" of one argument: the value as text.
void CheckAsText(const ZunTypedArgument& a) {
  const std::vector<ZunTypedArgument> one = {a};
  zun::LogRecord record;
  const zun::ResultCode rc = Build(0, u"%s", one, &record);
  if (a.kind == 0) return Check(rc == zun::RC_BAD_ARGUMENT_KIND);
  Check(rc == zun::RC_OK);
  const WString& text = record.message;
  switch (a.kind) {
    case ZUN_ARG_UNSIGNED:
      return Check(text == zun::ToUtf16(std::to_string(a.value.u)));
    case ZUN_ARG_SIGNED:
      return Check(text == zun::ToUtf16(std::to_string(a.value.i)));
    case ZUN_ARG_DOUBLE: {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%g", a.value.d);
      return Check(text == zun::ToUtf16(expected));
    }
    case ZUN_ARG_BUFFER:
      return Check(text == ExpectedItem(a).substr(4));
    case ZUN_ARG_NARROW: {
      WString decoded;
      // A message is zero-terminated: a zero inside a counted text ends it.
      if (zun::Succeeded(zun::AppendUtf16FromUtf8(NarrowText(a), decoded)))
        Check(text == zun::UpToZero(decoded));
      return;
    }
    case ZUN_ARG_WIDE:
      return Check(text == zun::UpToZero(WideText(a)));
    default:
      return Check(text.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zun::fuzz::InputReader in(data, size);
  const WString format = in.Units(in.Byte());

  std::vector<std::unique_ptr<char16_t[]>> texts;
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
  std::vector<ZunTypedArgument> list;
  while (!in.Empty() && list.size() < kMaxArguments) {
    const std::uint8_t head = in.Byte();
    ZunTypedArgument a{};
    a.kind = head & 7;
    if (!IsSpan(a.kind)) {
      a.value.u = in.Number(8);
      list.push_back(a);
      continue;
    }
    const std::size_t length = in.Byte();
    std::uint8_t* bytes = nullptr;
    if (a.kind == ZUN_ARG_BUFFER) {
      buffers.emplace_back(new std::uint8_t[length]);
      bytes = buffers.back().get();
    } else {
      // Zero units after the data; char16_t keeps wide texts aligned.
      texts.emplace_back(new char16_t[(length + 1) / 2 + 1]());
      bytes = reinterpret_cast<std::uint8_t*>(texts.back().get());
    }
    for (std::size_t k = 0; k < length; ++k) bytes[k] = in.Byte();
    a.value.span.data = (head & 0x80) ? nullptr : bytes;
    const bool toZero = (head & 0x40) && a.kind != ZUN_ARG_BUFFER;
    const std::size_t count = a.kind == ZUN_ARG_WIDE ? length / 2 : length;
    a.value.span.length = toZero ? UINT32_MAX : static_cast<std::uint32_t>(count);
    list.push_back(a);
  }

  // Without a message: the typed rendering.
  zun::LogRecord record;
  Check(Build(zun::kLoggerFlagTypedMode, size % 2 ? nullptr : u"", list, &record) == zun::RC_OK);
  Check(record.message.find_first_of(WString(u"\r\n\0", 3)) == WString::npos);
  const std::vector<WString> items = Items(record.message);
  Check(items.size() == list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].kind == ZUN_ARG_DOUBLE) {
      CheckDoubleItem(items[i], list[i].value.d);
    } else {
      Check(items[i] == ExpectedItem(list[i]));
    }
  }

  // With the input's format (up to its first zero, as the formatter reads it).
  const zun::ResultCode rc = Build(0, format.c_str(), list, &record);
  WString once;
  Check(rc == FormatOnce(format.c_str(), list, &once));
  if (rc == zun::RC_OK) Check(record.message == once);

  for (const ZunTypedArgument& a : list) CheckAsText(a);
  return 0;
}
