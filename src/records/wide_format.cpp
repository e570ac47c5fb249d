#include "records/wide_format.h"

#include <locale.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

namespace zun {

namespace {

constexpr std::size_t kToZero = static_cast<std::size_t>(-1);

enum class SizePrefix {
  kNone,
  kChar,
  kShort,
  kLong,
  kLongLong,
  kLongDouble,
  kWide,
  kPointer,
  k32,
  k64,
  kSize,
  kMax,
  kPtrDiff
};

struct Directive {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  bool widthStar = false;
  bool precisionStar = false;
  int width = 0;
  int precision = -1;  // -1: none
  SizePrefix size = SizePrefix::kNone;
  char16_t conversion = 0;
};

// One argument as the renderer sees it, whatever it was read from.
struct Value {
  enum class Type { kSigned, kUnsigned, kDouble, kLongDouble, kChar, kWide, kNarrow, kBytes, kNothing };
  Type type = Type::kNothing;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  long double ld = 0;
  const void* data = nullptr;
  std::size_t length = 0;  // kToZero: up to the terminating zero
};

// Writes into a fixed buffer; past its end it only counts, so the caller
// learns the size the whole text needs. Once ended, it takes nothing more.
class Sink {
 public:
  Sink(char16_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(buffer ? capacity : 0) {}

  void Put(char16_t c) { Append(&c, 1); }

  // A zero character ends the text, as it ends any zero-terminated text.
  void End() { ended_ = true; }

  void Append(const char16_t* text, std::size_t n) {
    if (ended_) return;
    const std::size_t room = length_ < capacity_ ? capacity_ - length_ : 0;
    if (n <= room) {
      if (n != 0) std::memcpy(buffer_ + length_, text, n * sizeof(char16_t));
    } else {
      if (room != 0) std::memcpy(buffer_ + length_, text, room * sizeof(char16_t));
      overflow_ = true;
    }
    length_ += n;
  }

  void Repeat(char16_t c, std::size_t n) {
    if (ended_) return;
    const std::size_t room = length_ < capacity_ ? capacity_ - length_ : 0;
    const std::size_t written = n <= room ? n : room;
    for (std::size_t k = 0; k < written; ++k) buffer_[length_ + k] = c;
    if (written < n) overflow_ = true;
    length_ += n;
  }

  ResultCode Finish(std::size_t* size) {
    if (size) *size = length_ + 1;
    if (overflow_) return RC_INSUFFICIENT_BUFFER;
    if (buffer_) buffer_[length_] = 0;
    return RC_OK;
  }

 private:
  char16_t* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool overflow_ = false;
  bool ended_ = false;
};

// Where the values of the conversions come from.
class ArgumentReader {
 public:
  // `*present` false: no argument left (the directive is copied as written).
  virtual ResultCode Star(int* value, bool* present) = 0;
  virtual ResultCode Next(const Directive& directive, Value* value, bool* present) = 0;
  // Called once the whole format was written.
  virtual ResultCode Done() { return RC_OK; }

 protected:
  ~ArgumentReader() = default;
};

bool IsConversion(char16_t c) {
  switch (c) {
    case u'c':
    case u'd':
    case u'i':
    case u'u':
    case u'o':
    case u'x':
    case u'X':
    case u'e':
    case u'E':
    case u'f':
    case u'g':
    case u'G':
    case u'p':
    case u's':
    case u'r':
      return true;
    default:
      return false;
  }
}

bool IsIntegerConversion(char16_t c) {
  return c == u'd' || c == u'i' || c == u'u' || c == u'o' || c == u'x' || c == u'X';
}

bool IsFloatConversion(char16_t c) { return c == u'e' || c == u'E' || c == u'f' || c == u'g' || c == u'G'; }

int ClampToInt(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

template <typename Float>
std::int64_t TruncateToInt64(Float value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<Float>(9.2e18)) return INT64_MAX;
  if (value <= static_cast<Float>(-9.2e18)) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

// ---- va_list ----------------------------------------------------------

class VaListReader final : public ArgumentReader {
 public:
  explicit VaListReader(va_list* args) : args_(args) {}

  ResultCode Star(int* value, bool* present) override {
    *present = args_ != nullptr;
    if (*present) *value = va_arg(*args_, int);
    return RC_OK;
  }

  ResultCode Next(const Directive& d, Value* v, bool* present) override {
    *present = args_ != nullptr;
    if (!*present) return RC_OK;
    const char16_t c = d.conversion;
    if (c == u'd' || c == u'i') {
      v->type = Value::Type::kSigned;
      v->i = ReadSigned(d.size);
    } else if (IsIntegerConversion(c)) {
      v->type = Value::Type::kUnsigned;
      v->u = ReadUnsigned(d.size);
    } else if (c == u'c') {
      v->type = Value::Type::kChar;
      const unsigned int raw = va_arg(*args_, unsigned int);
      v->u = (d.size == SizePrefix::kShort || d.size == SizePrefix::kChar) ? (raw & 0xFFu) : (raw & 0xFFFFu);
    } else if (c == u's' || c == u'r') {
      const bool narrow = d.size == SizePrefix::kShort || d.size == SizePrefix::kChar;
      v->type = narrow ? Value::Type::kNarrow : Value::Type::kWide;
      v->data = va_arg(*args_, const void*);
      v->length = kToZero;
      if (c == u'r') {
        const unsigned int count = va_arg(*args_, unsigned int);
        if (count != UINT32_MAX) v->length = count;
      }
      if (v->data == nullptr) {
        v->type = Value::Type::kWide;
        v->data = u"(null)";
        v->length = 6;
      }
    } else if (c == u'p') {
      v->type = Value::Type::kUnsigned;
      v->u = reinterpret_cast<std::uintptr_t>(va_arg(*args_, void*));
    } else if (d.size == SizePrefix::kLongDouble) {
      v->type = Value::Type::kLongDouble;
      v->ld = va_arg(*args_, long double);
    } else {
      v->type = Value::Type::kDouble;
      v->d = va_arg(*args_, double);
    }
    return RC_OK;
  }

 private:
  std::int64_t ReadSigned(SizePrefix size) {
    switch (size) {
      case SizePrefix::kChar:
        return static_cast<signed char>(va_arg(*args_, int));
      case SizePrefix::kShort:
        return static_cast<short>(va_arg(*args_, int));
      case SizePrefix::kLong:
        return va_arg(*args_, long);
      case SizePrefix::kLongLong:
      case SizePrefix::kLongDouble:
        return va_arg(*args_, long long);
      case SizePrefix::kPointer:
        return va_arg(*args_, std::intptr_t);
      case SizePrefix::k64:
        return va_arg(*args_, std::int64_t);
      case SizePrefix::kSize:
      case SizePrefix::kPtrDiff:
        return va_arg(*args_, std::ptrdiff_t);
      case SizePrefix::kMax:
        return va_arg(*args_, std::intmax_t);
      default:
        return va_arg(*args_, int);
    }
  }

  std::uint64_t ReadUnsigned(SizePrefix size) {
    switch (size) {
      case SizePrefix::kChar:
        return static_cast<unsigned char>(va_arg(*args_, unsigned int));
      case SizePrefix::kShort:
        return static_cast<unsigned short>(va_arg(*args_, unsigned int));
      case SizePrefix::kLong:
        return va_arg(*args_, unsigned long);
      case SizePrefix::kLongLong:
      case SizePrefix::kLongDouble:
        return va_arg(*args_, unsigned long long);
      case SizePrefix::kPointer:
        return va_arg(*args_, std::uintptr_t);
      case SizePrefix::k64:
        return va_arg(*args_, std::uint64_t);
      case SizePrefix::kSize:
      case SizePrefix::kPtrDiff:
        return va_arg(*args_, std::size_t);
      case SizePrefix::kMax:
        return va_arg(*args_, std::uintmax_t);
      default:
        return va_arg(*args_, unsigned int);
    }
  }

  va_list* args_;
};

// ---- typed arguments --------------------------------------------------

class TypedReader final : public ArgumentReader {
 public:
  explicit TypedReader(ZunArgumentSource* source) : source_(source) {}

  ResultCode Star(int* value, bool* present) override {
    ZunTypedArgument arg;
    *present = Take(&arg);
    if (!*present) return RC_OK;
    switch (arg.kind) {
      case ZUN_ARG_UNSIGNED:
        *value = arg.value.u > INT_MAX ? INT_MAX : static_cast<int>(arg.value.u);
        return RC_OK;
      case ZUN_ARG_SIGNED:
        *value = ClampToInt(arg.value.i);
        return RC_OK;
      case ZUN_ARG_DOUBLE:
        *value = ClampToInt(TruncateToInt64(arg.value.d));
        return RC_OK;
      default:
        return RC_BAD_ARGUMENT_KIND;
    }
  }

  ResultCode Next(const Directive&, Value* v, bool* present) override {
    ZunTypedArgument arg;
    *present = Take(&arg);
    if (!*present) return RC_OK;
    switch (arg.kind) {
      case 0:
        return RC_BAD_ARGUMENT_KIND;
      case ZUN_ARG_UNSIGNED:
        v->type = Value::Type::kUnsigned, v->u = arg.value.u;
        break;
      case ZUN_ARG_SIGNED:
        v->type = Value::Type::kSigned, v->i = arg.value.i;
        break;
      case ZUN_ARG_DOUBLE:
        v->type = Value::Type::kDouble, v->d = arg.value.d;
        break;
      case ZUN_ARG_BUFFER:
      case ZUN_ARG_NARROW:
      case ZUN_ARG_WIDE:
        v->type = arg.kind == ZUN_ARG_BUFFER   ? Value::Type::kBytes
                  : arg.kind == ZUN_ARG_NARROW ? Value::Type::kNarrow
                                               : Value::Type::kWide;
        v->data = arg.value.span.data;
        v->length = arg.value.span.length;
        if (v->data == nullptr) {
          v->length = 0;
        } else if (arg.kind != ZUN_ARG_BUFFER && arg.value.span.length == UINT32_MAX) {
          v->length = kToZero;
        }
        break;
      default:
        v->type = Value::Type::kNothing;
        break;
    }
    return RC_OK;
  }

  ResultCode Done() override {
    ZunTypedArgument arg;
    return Take(&arg) ? RC_EMPTY : RC_OK;
  }

 private:
  bool Take(ZunTypedArgument* arg) {
    if (source_ == nullptr || exhausted_) return false;
    *arg = ZunTypedArgument{};
    if (source_->vtbl->NextArgument(source_, arg) != 0) return true;
    exhausted_ = true;
    return false;
  }

  ZunArgumentSource* source_;
  bool exhausted_ = false;
};

// ---- rendering ----------------------------------------------------------

void Pad(Sink& sink, int width, std::size_t length) {
  if (width > 0 && static_cast<std::size_t>(width) > length) sink.Repeat(u' ', width - length);
}

// Decodes UTF-8 leniently (a malformed byte becomes U+FFFD), at most `limit`
// UTF-16 units, never splitting a surrogate pair, up to the first zero byte. Returns the units produced;
// writes them when `sink` is given.
std::size_t DecodeUtf8(const unsigned char* text, std::size_t length, std::size_t limit, Sink* sink) {
  std::size_t units = 0;
  std::size_t i = 0;
  auto at = [&](std::size_t k) -> unsigned { return (length == kToZero || k < length) ? text[k] : 0u; };
  while ((length == kToZero || i < length) && text[i] != 0) {
    const unsigned b0 = text[i];
    char32_t cp = 0xFFFD;
    std::size_t used = 1;
    int extra = b0 < 0x80             ? 0
                : (b0 & 0xE0) == 0xC0 ? 1
                : (b0 & 0xF0) == 0xE0 ? 2
                : (b0 & 0xF8) == 0xF0 ? 3
                                      : -1;
    if (extra == 0) {
      cp = b0;
    } else if (extra > 0) {
      char32_t value = b0 & (0x3Fu >> extra);
      int k = 1;
      for (; k <= extra; ++k) {
        const unsigned b = at(i + k);
        if ((b & 0xC0) != 0x80) break;
        value = (value << 6) | (b & 0x3F);
      }
      static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
      if (k > extra && value >= kMin[extra] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
        cp = value;
        used = static_cast<std::size_t>(extra) + 1;
      }
    }
    const std::size_t need = cp >= 0x10000 ? 2 : 1;
    if (units + need > limit) break;
    if (sink) {
      if (need == 1) {
        sink->Put(static_cast<char16_t>(cp));
      } else {
        const char16_t pair[2] = {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                  static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
        sink->Append(pair, 2);
      }
    }
    units += need;
    i += used;
  }
  return units;
}

void RenderText(const Directive& d, const Value& v, Sink& sink) {
  const std::size_t limit = d.precision >= 0 ? static_cast<std::size_t>(d.precision) : kToZero;
  switch (v.type) {
    case Value::Type::kWide: {
      const auto* text = static_cast<const char16_t*>(v.data);
      // A counted text ends at its first zero, as "%s" would.
      const std::size_t most = v.length < limit ? v.length : limit;
      std::size_t n = 0;
      while (n < most && text[n] != 0) ++n;
      if (!d.left) Pad(sink, d.width, n);
      sink.Append(text, n);
      if (d.left) Pad(sink, d.width, n);
      return;
    }
    case Value::Type::kNarrow: {
      const auto* text = static_cast<const unsigned char*>(v.data);
      if (text == nullptr) {
        Pad(sink, d.width, 0);
        return;
      }
      if (!d.left && d.width > 0) Pad(sink, d.width, DecodeUtf8(text, v.length, limit, nullptr));
      const std::size_t n = DecodeUtf8(text, v.length, limit, &sink);
      if (d.left) Pad(sink, d.width, n);
      return;
    }
    case Value::Type::kBytes: {
      const bool upper = d.conversion == u'X' || d.conversion == u'E' || d.conversion == u'G';
      const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
      const auto* bytes = static_cast<const unsigned char*>(v.data);
      const std::size_t full = bytes ? v.length * 2 : 0;
      const std::size_t n = full < limit ? full : limit;
      if (!d.left) Pad(sink, d.width, n);
      for (std::size_t k = 0; k < n; ++k) {
        const unsigned b = bytes[k / 2];
        sink.Put(digits[(k % 2 == 0) ? (b >> 4) : (b & 0x0F)]);
      }
      if (d.left) Pad(sink, d.width, n);
      return;
    }
    default:
      Pad(sink, d.width, 0);
      return;
  }
}

void RenderInteger(const Directive& d, bool negative, std::uint64_t magnitude, Sink& sink) {
  const char16_t c = d.conversion;
  const unsigned base = c == u'o' ? 8 : (c == u'x' || c == u'X') ? 16 : 10;
  const char16_t* digitSet = c == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
  char16_t digits[24];
  std::size_t n = 0;
  if (!(d.precision == 0 && magnitude == 0)) {
    // Each base on its own path: a division by a constant is a multiply,
    // by a variable a slow divide for every digit.
    if (base == 10) {
      do {
        digits[sizeof digits / sizeof *digits - 1 - n++] = digitSet[magnitude % 10];
        magnitude /= 10;
      } while (magnitude != 0);
    } else {
      const unsigned shift = base == 16 ? 4 : 3;
      do {
        digits[sizeof digits / sizeof *digits - 1 - n++] = digitSet[magnitude & (base - 1)];
        magnitude >>= shift;
      } while (magnitude != 0);
    }
  }
  const char16_t* first = digits + (sizeof digits / sizeof *digits - n);

  char16_t prefix[2];
  std::size_t prefixLength = 0;
  const bool isSigned = c == u'd' || c == u'i';
  if (negative) {
    prefix[prefixLength++] = u'-';
  } else if (isSigned && d.plus) {
    prefix[prefixLength++] = u'+';
  } else if (isSigned && d.space) {
    prefix[prefixLength++] = u' ';
  }
  std::size_t zeros = d.precision > 0 && static_cast<std::size_t>(d.precision) > n ? d.precision - n : 0;
  if (d.alt && base == 8 && zeros == 0 && (n == 0 || first[0] != u'0')) zeros = 1;
  if (d.alt && base == 16 && n != 0 && !(n == 1 && first[0] == u'0')) {
    prefix[prefixLength++] = u'0';
    prefix[prefixLength++] = c;
  }
  const std::size_t total = prefixLength + zeros + n;
  const std::size_t pad = d.width > 0 && static_cast<std::size_t>(d.width) > total ? d.width - total : 0;
  if (d.left) {
    sink.Append(prefix, prefixLength);
    sink.Repeat(u'0', zeros);
    sink.Append(first, n);
    sink.Repeat(u' ', pad);
  } else if (d.zero && d.precision < 0) {
    sink.Append(prefix, prefixLength);
    sink.Repeat(u'0', zeros + pad);
    sink.Append(first, n);
  } else {
    sink.Repeat(u' ', pad);
    sink.Append(prefix, prefixLength);
    sink.Repeat(u'0', zeros);
    sink.Append(first, n);
  }
}

void RenderPointer(const Directive& d, std::uint64_t value, Sink& sink) {
  std::size_t n = sizeof(void*) * 2;
  if (value > UINTPTR_MAX) n = 16;
  char16_t text[18];
  std::size_t length = 0;
  if (d.alt) {
    text[length++] = u'0';
    text[length++] = u'x';
  }
  for (std::size_t k = 0; k < n; ++k)
    text[length + k] = u"0123456789ABCDEF"[(value >> (4 * (n - 1 - k))) & 0xF];
  length += n;
  if (!d.left) Pad(sink, d.width, length);
  sink.Append(text, length);
  if (d.left) Pad(sink, d.width, length);
}

template <typename Float>
void RenderFloat(const Directive& d, Float value, Sink& sink) {
  char format[32];
  std::size_t f = 0;
  format[f++] = '%';
  if (d.plus) format[f++] = '+';
  if (d.space) format[f++] = ' ';
  if (d.alt) format[f++] = '#';
  if (d.precision >= 0)
    f += static_cast<std::size_t>(std::snprintf(format + f, sizeof format - f, ".%d", d.precision));
  constexpr bool kLong = sizeof(Float) != sizeof(double);
  if (kLong) format[f++] = 'L';
  format[f++] = static_cast<char>(d.conversion);
  format[f] = 0;

  char local[512];
  std::string large;
  char* text = local;
  int n = kLong ? FormatLongDoubleInCLocale(local, sizeof local, format, value)
                : FormatDoubleInCLocale(local, sizeof local, format, static_cast<double>(value));
  if (n < 0) return;
  if (static_cast<std::size_t>(n) >= sizeof local) {
    large.resize(static_cast<std::size_t>(n) + 1);
    n = kLong ? FormatLongDoubleInCLocale(large.data(), large.size(), format, value)
              : FormatDoubleInCLocale(large.data(), large.size(), format, static_cast<double>(value));
    if (n < 0) return;
    text = large.data();
  }
  const std::size_t length = static_cast<std::size_t>(n);
  const std::size_t pad = d.width > 0 && static_cast<std::size_t>(d.width) > length ? d.width - length : 0;
  std::size_t signLength = (length > 0 && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) ? 1 : 0;
  auto widen = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k)
      sink.Put(static_cast<char16_t>(static_cast<unsigned char>(text[k])));
  };
  if (d.left) {
    widen(0, length);
    sink.Repeat(u' ', pad);
  } else if (d.zero && std::isfinite(value)) {
    widen(0, signLength);
    sink.Repeat(u'0', pad);
    widen(signLength, length);
  } else {
    sink.Repeat(u' ', pad);
    widen(0, length);
  }
}

// A number written for "%s": decimal, or "%g" for floating point.
void RenderNumberAsText(const Directive& d, const Value& v, Sink& sink) {
  char16_t text[64];
  std::size_t n = 0;
  if (v.type == Value::Type::kDouble || v.type == Value::Type::kLongDouble) {
    char narrow[64];
    const int got = v.type == Value::Type::kDouble
                        ? FormatDoubleInCLocale(narrow, sizeof narrow, "%g", v.d)
                        : FormatLongDoubleInCLocale(narrow, sizeof narrow, "%Lg", v.ld);
    for (int k = 0; k < got && k < static_cast<int>(sizeof narrow) - 1; ++k)
      text[n++] = static_cast<char16_t>(narrow[k]);
  } else {
    const bool negative = v.type == Value::Type::kSigned && v.i < 0;
    std::uint64_t magnitude = v.type == Value::Type::kSigned ? static_cast<std::uint64_t>(v.i) : v.u;
    if (negative) magnitude = 0 - magnitude;
    char16_t digits[24];
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) text[n++] = u'-';
    while (count > 0) text[n++] = digits[--count];
  }
  Value asText;
  asText.type = Value::Type::kWide;
  asText.data = text;
  asText.length = n;
  RenderText(d, asText, sink);
}

void Render(const Directive& d, const Value& v, Sink& sink) {
  const char16_t c = d.conversion;
  const bool isText =
      v.type == Value::Type::kWide || v.type == Value::Type::kNarrow || v.type == Value::Type::kBytes;
  if (isText || v.type == Value::Type::kNothing) {
    RenderText(d, v, sink);
    return;
  }
  const bool isLongDouble = v.type == Value::Type::kLongDouble;
  const bool isDouble = v.type == Value::Type::kDouble;
  std::int64_t asSigned = v.type == Value::Type::kSigned ? v.i
                          : isDouble                     ? TruncateToInt64(v.d)
                          : isLongDouble                 ? TruncateToInt64(v.ld)
                                                         : static_cast<std::int64_t>(v.u);
  const bool fromUnsigned = v.type == Value::Type::kUnsigned || v.type == Value::Type::kChar;
  if (c == u's' || c == u'r') {
    RenderNumberAsText(d, v, sink);
  } else if (c == u'c') {
    const char16_t ch = static_cast<char16_t>(fromUnsigned ? v.u : static_cast<std::uint64_t>(asSigned));
    if (!d.left) Pad(sink, d.width, 1);
    if (ch == 0) {
      sink.End();
      return;
    }
    sink.Put(ch);
    if (d.left) Pad(sink, d.width, 1);
  } else if (c == u'p') {
    RenderPointer(d, fromUnsigned ? v.u : static_cast<std::uint64_t>(asSigned), sink);
  } else if (IsFloatConversion(c)) {
    if (isLongDouble) {
      RenderFloat(d, v.ld, sink);
    } else {
      const double value = isDouble       ? v.d
                           : fromUnsigned ? static_cast<double>(v.u)
                                          : static_cast<double>(v.i);
      RenderFloat(d, value, sink);
    }
  } else if (c == u'd' || c == u'i') {
    if (fromUnsigned) {
      RenderInteger(d, false, v.u, sink);
    } else {
      const bool negative = asSigned < 0;
      const std::uint64_t magnitude =
          negative ? 0 - static_cast<std::uint64_t>(asSigned) : static_cast<std::uint64_t>(asSigned);
      RenderInteger(d, negative, magnitude, sink);
    }
  } else {
    RenderInteger(d, false, fromUnsigned ? v.u : static_cast<std::uint64_t>(asSigned), sink);
  }
}

// Reads digits at `p`, saturating; returns false when the number is above
// kMaxFieldWidth.
bool ParseNumber(const char16_t*& p, int* out) {
  long value = 0;
  while (*p >= u'0' && *p <= u'9') {
    if (value <= kMaxFieldWidth) value = value * 10 + (*p - u'0');
    ++p;
  }
  *out = value > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(value);
  return value <= kMaxFieldWidth;
}

// Discards what it is given, for a run that only takes its arguments.
struct NoOutput {
  void Append(const char16_t*, std::size_t) {}
  void Put(char16_t) {}
};

// Templated on the reader too, so the va_list reader's calls are direct.
template <typename Reader, typename Output>
ResultCode Run(const char16_t* format, Reader& reader, Output& sink) {
  const char16_t* p = format ? format : u"";
  while (*p != 0) {
    if (*p != u'%') {
      const char16_t* run = p;
      while (*p != 0 && *p != u'%') ++p;
      sink.Append(run, static_cast<std::size_t>(p - run));
      continue;
    }
    const char16_t* start = p++;
    Directive d;
    for (;; ++p) {
      if (*p == u'-') {
        d.left = true;
      } else if (*p == u'+') {
        d.plus = true;
      } else if (*p == u' ') {
        d.space = true;
      } else if (*p == u'#') {
        d.alt = true;
      } else if (*p == u'0') {
        d.zero = true;
      } else {
        break;
      }
    }
    bool valid = true;
    if (*p == u'*') {
      d.widthStar = true, ++p;
    } else {
      valid = ParseNumber(p, &d.width) && valid;
    }
    if (*p == u'.') {
      ++p;
      if (*p == u'*') {
        d.precisionStar = true, ++p;
      } else {
        valid = ParseNumber(p, &d.precision) && valid;
      }
    }
    switch (*p) {
      case u'h':
        ++p;
        d.size = SizePrefix::kShort;
        if (*p == u'h') d.size = SizePrefix::kChar, ++p;
        break;
      case u'l':
        ++p;
        d.size = SizePrefix::kLong;
        if (*p == u'l') d.size = SizePrefix::kLongLong, ++p;
        break;
      case u'L':
        d.size = SizePrefix::kLongDouble, ++p;
        break;
      case u'w':
        d.size = SizePrefix::kWide, ++p;
        break;
      case u'z':
        d.size = SizePrefix::kSize, ++p;
        break;
      case u'j':
        d.size = SizePrefix::kMax, ++p;
        break;
      case u't':
        d.size = SizePrefix::kPtrDiff, ++p;
        break;
      case u'I':
        ++p;
        d.size = SizePrefix::kPointer;
        if (p[0] == u'3' && p[1] == u'2') {
          d.size = SizePrefix::k32, p += 2;
        } else if (p[0] == u'6' && p[1] == u'4') {
          d.size = SizePrefix::k64, p += 2;
        }
        break;
      default:
        break;
    }
    d.conversion = *p;
    if (d.conversion == u'%') {
      sink.Put(u'%');
      ++p;
      continue;
    }
    if (d.conversion != 0) ++p;
    auto copyAsWritten = [&] { sink.Append(start, static_cast<std::size_t>(p - start)); };
    if (!valid || !IsConversion(d.conversion)) {
      copyAsWritten();
      continue;
    }
    if (d.size == SizePrefix::k32) d.size = SizePrefix::kNone;  // int is 32 bits
    bool present = true;
    if (d.widthStar) {
      int width = 0;
      if (ResultCode rc = reader.Star(&width, &present); Failed(rc)) return rc;
      if (present) {
        // A negative width asks for left alignment.
        if (width < 0) d.left = true;
        const long magnitude = width < 0 ? -static_cast<long>(width) : width;
        d.width = magnitude > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(magnitude);
      }
    }
    if (present && d.precisionStar) {
      int precision = 0;
      if (ResultCode rc = reader.Star(&precision, &present); Failed(rc)) return rc;
      if (present) d.precision = precision < 0 ? -1 : precision > kMaxFieldWidth ? kMaxFieldWidth : precision;
    }
    Value value;
    if (present) {
      if (ResultCode rc = reader.Next(d, &value, &present); Failed(rc)) return rc;
    }
    if (!present) {
      copyAsWritten();
      continue;
    }
    if constexpr (std::is_same_v<Output, Sink>) Render(d, value, sink);
  }
  return reader.Done();
}

locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

// The calling thread uses the "C" locale while the scope lives, so the
// decimal point never follows a host's setlocale.
class CLocaleScope {
 public:
  CLocaleScope() {
    const locale_t c = CLocale();
    previous_ = c ? uselocale(c) : static_cast<locale_t>(nullptr);
  }
  ~CLocaleScope() {
    if (previous_) uselocale(previous_);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

ResultCode FormatWide(char16_t* buffer, std::size_t capacity, const char16_t* format, va_list* args,
                      std::size_t* size) {
  Sink sink(buffer, capacity);
  VaListReader reader(args);
  if (ResultCode rc = Run(format, reader, sink); Failed(rc)) return rc;
  return sink.Finish(size);
}

void TakeWideArguments(const char16_t* format, va_list* args) {
  NoOutput none;
  VaListReader reader(args);
  Run(format, reader, none);
}

ResultCode FormatWideTyped(char16_t* buffer, std::size_t capacity, const char16_t* format,
                           ZunArgumentSource* source, std::size_t* size) {
  Sink sink(buffer, capacity);
  TypedReader reader(source);
  if (ResultCode rc = Run(format, reader, sink); Failed(rc)) return rc;
  return sink.Finish(size);
}

int FormatDoubleInCLocale(char* buffer, std::size_t size, const char* format, double value) {
  CLocaleScope scope;
  return std::snprintf(buffer, size, format, value);
}

int FormatLongDoubleInCLocale(char* buffer, std::size_t size, const char* format, long double value) {
  CLocaleScope scope;
  return std::snprintf(buffer, size, format, value);
}

}  // namespace zun
