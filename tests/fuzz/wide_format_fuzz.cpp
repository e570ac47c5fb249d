// Fuzzes the wide formatter with typed arguments decoded from the input.
//
// Input layout: one byte picks the capacity of a small buffer; two bytes
// (little-endian) give the format's length in UTF-16 units, which follow;
// the rest is arguments, each a kind byte (low 3 bits: kind 0-7; bit 7: text
// up to its terminating zero) followed by 8 value bytes for numbers or a
// length byte and that many data bytes for buffers and texts. Texts and
// buffers live in copies that end with zero bytes, so "up to the zero" never
// runs past the data.
//
// Checks, beyond "no crash": measuring, formatting into a large buffer and
// into a small one agree on the size and the text, which holds no zero;
// building a record gives the same text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "records/log_record.h"
#include "records/typed_arguments.h"
#include "records/wide_format.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  bool Has(size_t n) const { return size - pos >= n; }
  uint8_t Byte() { return Has(1) ? data[pos++] : 0; }
  uint64_t Word() {
    uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value |= static_cast<uint64_t>(Byte()) << (8 * k);
    return value;
  }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr size_t kLargeOutput = size_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const size_t smallCapacity = in.Byte();
  size_t formatLength = in.Byte();
  formatLength |= static_cast<size_t>(in.Byte()) << 8;
  if (formatLength > (size - in.pos) / 2) formatLength = (size - in.pos) / 2;
  std::vector<char16_t> format(formatLength + 1, 0);
  for (size_t k = 0; k < formatLength; ++k) {
    format[k] = static_cast<char16_t>(in.Byte() | (in.Byte() << 8));
  }

  std::vector<std::unique_ptr<uint8_t[]>> owned;
  zun::TypedArguments arguments;
  while (in.Has(1)) {
    const uint8_t head = in.Byte();
    ZunTypedArgument argument{};
    argument.kind = head & 7;
    if (argument.kind == ZUN_ARG_BUFFER || argument.kind == ZUN_ARG_NARROW || argument.kind == ZUN_ARG_WIDE) {
      const size_t length = in.Byte();
      // Two zero bytes after the data end narrow and wide texts; the array
      // is of char16_t so wide texts are aligned.
      auto* words = new char16_t[length / 2 + 2]();
      owned.emplace_back(reinterpret_cast<uint8_t*>(words));
      for (size_t k = 0; k < length; ++k) reinterpret_cast<uint8_t*>(words)[k] = in.Byte();
      argument.value.span.data = (head & 0x40) ? nullptr : words;
      const uint32_t count =
          argument.kind == ZUN_ARG_WIDE ? static_cast<uint32_t>(length / 2) : static_cast<uint32_t>(length);
      const bool toZero = (head & 0x80) && argument.kind != ZUN_ARG_BUFFER;
      argument.value.span.length = toZero ? UINT32_MAX : count;
    } else {
      argument.value.u = in.Word();
    }
    if (zun::Failed(arguments.Append(argument))) return 0;
  }

  zun::TypedArgumentCursor cursor(arguments);
  size_t measured = 0;
  const zun::ResultCode measureRc =
      zun::FormatWideTyped(nullptr, 0, format.data(), cursor.Source(), &measured);
  if (zun::Failed(measureRc) && measureRc != zun::RC_INSUFFICIENT_BUFFER) {
    // A real failure, found without writing anything.
    Check(measureRc == zun::RC_EMPTY || measureRc == zun::RC_BAD_ARGUMENT_KIND);
  } else if (measured <= kLargeOutput) {
    Check(measureRc == (measured == 1 ? zun::RC_OK : zun::RC_INSUFFICIENT_BUFFER));
    std::vector<char16_t> large(measured);
    cursor.Rewind();
    size_t got = 0;
    Check(zun::FormatWideTyped(large.data(), measured - 1, format.data(), cursor.Source(), &got) ==
          zun::RC_OK);
    Check(got == measured && large[measured - 1] == 0);
    Check(std::find(large.begin(), large.end() - 1, u'\0') == large.end() - 1);  // zero-terminated text

    std::vector<char16_t> small(smallCapacity + 1, u'#');
    cursor.Rewind();
    const zun::ResultCode smallRc =
        zun::FormatWideTyped(small.data(), smallCapacity, format.data(), cursor.Source(), &got);
    Check(got == measured);
    Check(smallRc == (measured - 1 <= smallCapacity ? zun::RC_OK : zun::RC_INSUFFICIENT_BUFFER));
    const size_t compared = measured - 1 < smallCapacity ? measured - 1 : smallCapacity;
    Check(std::memcmp(small.data(), large.data(), compared * sizeof(char16_t)) == 0);

    // A record's message goes through the stack and heap buffers.
    zun::LogCall call;
    call.message = format.data();
    zun::LogRecord record;
    cursor.Rewind();
    Check(zun::BuildRecord(u"fuzz", 0, nullptr, call, cursor.Source(), &record) == zun::RC_OK);
    Check(record.message.size() == measured - 1);
    Check(std::memcmp(record.message.data(), large.data(), record.message.size() * sizeof(char16_t)) == 0);
  }

  cursor.Rewind();
  zun::WString rendered;
  Check(zun::RenderTypedArguments(cursor.Source(), rendered) == zun::RC_OK);
  Check(rendered.find(u'\n') == zun::WString::npos && rendered.find(u'\r') == zun::WString::npos);
  return 0;
}
