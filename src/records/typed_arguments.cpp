#include "records/typed_arguments.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

#include "records/log_record.h"
#include "records/wide_format.h"

namespace zun {

bool ReadTaggedArgument(va_list* args, ZunTypedArgument* out) {
  if (args == nullptr) return false;
  *out = ZunTypedArgument{};
  const auto tag = static_cast<std::uint32_t>(va_arg(*args, int));
  switch (tag) {
    case ZUN_TAG_INT32:
    case ZUN_TAG_INT32_B:
      out->kind = ZUN_ARG_SIGNED;
      out->value.i = va_arg(*args, int);
      return true;
    case ZUN_TAG_UINT32:
    case ZUN_TAG_UINT32_B:
      out->kind = ZUN_ARG_UNSIGNED;
      out->value.u = va_arg(*args, unsigned int);
      return true;
    case ZUN_TAG_INT64:
    case ZUN_TAG_INT64_B:
    case ZUN_TAG_INT64_C:
      out->kind = ZUN_ARG_SIGNED;
      out->value.i = va_arg(*args, std::int64_t);
      return true;
    case ZUN_TAG_INT8:
      out->kind = ZUN_ARG_SIGNED;
      out->value.i = static_cast<std::int8_t>(va_arg(*args, int));
      return true;
    case ZUN_TAG_UINT8:
      out->kind = ZUN_ARG_UNSIGNED;
      out->value.u = static_cast<std::uint8_t>(va_arg(*args, unsigned int));
      return true;
    case ZUN_TAG_INT16:
      out->kind = ZUN_ARG_SIGNED;
      out->value.i = static_cast<std::int16_t>(va_arg(*args, int));
      return true;
    case ZUN_TAG_UINT16:
      out->kind = ZUN_ARG_UNSIGNED;
      out->value.u = static_cast<std::uint16_t>(va_arg(*args, unsigned int));
      return true;
    case ZUN_TAG_UINT64:
      out->kind = ZUN_ARG_UNSIGNED;
      out->value.u = va_arg(*args, std::uint64_t);
      return true;
    case ZUN_TAG_INT32_AS_U64:
      out->kind = ZUN_ARG_UNSIGNED;
      out->value.u = static_cast<std::uint64_t>(static_cast<std::int64_t>(va_arg(*args, int)));
      return true;
    case ZUN_TAG_DOUBLE:
      out->kind = ZUN_ARG_DOUBLE;
      out->value.d = va_arg(*args, double);
      return true;
    case ZUN_TAG_UINT16_AS_I64:
      out->kind = ZUN_ARG_SIGNED;
      out->value.i = static_cast<std::uint16_t>(va_arg(*args, unsigned int));
      return true;
    case ZUN_TAG_WIDE_TEXT:
    case ZUN_TAG_WIDE_TEXT_B:
      out->kind = ZUN_ARG_WIDE;
      out->value.span.data = va_arg(*args, const char16_t*);
      out->value.span.length = UINT32_MAX;
      return true;
    case ZUN_TAG_COUNTED_TEXT:
      out->kind = ZUN_ARG_WIDE;
      out->value.span.data = va_arg(*args, const char16_t*);
      out->value.span.length = va_arg(*args, unsigned int);
      return true;
    default:  // ZUN_TAG_END and every unknown tag end the list
      return false;
  }
}

ResultCode TypedArguments::Append(const ZunTypedArgument& argument) {
  if (count_ >= kInlineCount) {
    try {
      more_.push_back(argument);
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
  } else {
    inline_[count_] = argument;
  }
  ++count_;
  return RC_OK;
}

void TypedArguments::Clear() {
  more_.clear();
  count_ = 0;
}

ResultCode ReadTaggedArguments(va_list* args, TypedArguments* out) {
  ZunTypedArgument argument;
  while (ReadTaggedArgument(args, &argument)) {
    if (ResultCode rc = out->Append(argument); Failed(rc)) return rc;
  }
  return RC_OK;
}

ResultCode ReadSourceArguments(ZunArgumentSource* source, TypedArguments* out) {
  if (source == nullptr) return RC_OK;
  for (;;) {
    ZunTypedArgument argument{};
    if (source->vtbl->NextArgument(source, &argument) == 0) return RC_OK;
    if (ResultCode rc = out->Append(argument); Failed(rc)) return rc;
  }
}

void* QueryArgumentSource(ZunArgumentSource* self, uint32_t id, uint32_t version, uint8_t* found) {
  const bool match = id == ZUN_IID_ARGUMENT_SOURCE && version < 2;
  if (found) *found = match ? 1 : 0;
  return match ? self : nullptr;
}

TypedArgumentCursor::TypedArgumentCursor(const TypedArguments& arguments) : arguments_(&arguments) {
  static const ZunArgumentSourceVtbl kTable = {&QueryArgumentSource, &TypedArgumentCursor::NextArgument};
  source_.vtbl = &kTable;
}

uint8_t TypedArgumentCursor::NextArgument(ZunArgumentSource* self, ZunTypedArgument* out) {
  auto* cursor = reinterpret_cast<TypedArgumentCursor*>(self);
  if (cursor->next_ >= cursor->arguments_->Count()) return 0;
  *out = (*cursor->arguments_)[cursor->next_++];
  return 1;
}

TaggedListSource::TaggedListSource(va_list* args) : args_(args) {
  static const ZunArgumentSourceVtbl kTable = {&QueryArgumentSource, &TaggedListSource::NextArgument};
  source_.vtbl = &kTable;
}

uint8_t TaggedListSource::NextArgument(ZunArgumentSource* self, ZunTypedArgument* out) {
  auto* list = reinterpret_cast<TaggedListSource*>(self);
  if (list->ended_) return 0;
  if (ReadTaggedArgument(list->args_, out)) return 1;
  list->ended_ = true;  // the end marker is read once only
  return 0;
}

namespace {

constexpr char16_t kLowerHex[] = u"0123456789abcdef";

void AppendHex64(std::uint64_t value, WString& out) {
  char16_t digits[16];
  for (int k = 15; k >= 0; --k, value >>= 4) digits[k] = kLowerHex[value & 0xF];
  out.append(digits, 16);
}

void AppendHexBytes(const unsigned char* bytes, std::size_t count, WString& out) {
  if (bytes == nullptr) return;
  for (std::size_t k = 0; k < count; ++k) {
    out.push_back(kLowerHex[bytes[k] >> 4]);
    out.push_back(kLowerHex[bytes[k] & 0xF]);
  }
}

// A zero becomes backslash 0, CR and LF become U+000B, a quote is doubled,
// so a rendered argument never breaks the line.
void AppendEscaped(WStringView text, WString& out) {
  std::size_t run = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[k];
    if (c != 0 && c != u'\r' && c != u'\n' && c != u'\'') continue;
    out.append(text.data() + run, k - run);
    run = k + 1;
    if (c == 0) {
      out.append(u"\\0");
    } else if (c == u'\'') {
      out.append(u"''");
    } else {
      out.push_back(kLineBreakStandIn);
    }
  }
  out.append(text.data() + run, text.size() - run);
}

void AppendDouble(double value, WString& out) {
  out.append(u"DOUBLE:");
  if (std::isnan(value)) {
    out.append(u"nan");
    return;
  }
  if (std::isinf(value)) {
    out.append(value < 0 ? u"-inf" : u"inf");
    return;
  }
  char text[64];
  const int n = FormatDoubleInCLocale(text, sizeof text, "%.16e", value);
  for (int k = 0; k < n && k < static_cast<int>(sizeof text) - 1; ++k) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[k])));
  }
}

void AppendArgument(const ZunTypedArgument& argument, WString& out) {
  const void* data = argument.value.span.data;
  const std::uint32_t length = argument.value.span.length;
  switch (argument.kind) {
    case ZUN_ARG_UNSIGNED:
      out.append(u"QWORD:0x");
      AppendHex64(argument.value.u, out);
      return;
    case ZUN_ARG_SIGNED:
      out.append(u"INT64:0x");
      AppendHex64(static_cast<std::uint64_t>(argument.value.i), out);
      return;
    case ZUN_ARG_BUFFER:
      out.append(u"BUF:");
      AppendHexBytes(static_cast<const unsigned char*>(data), data ? length : 0, out);
      return;
    case ZUN_ARG_NARROW: {
      const auto* bytes = static_cast<const char*>(data);
      const std::size_t count = bytes == nullptr ? 0 : length == UINT32_MAX ? std::strlen(bytes) : length;
      WString text;
      if (Failed(AppendUtf16FromUtf8(std::string_view(bytes ? bytes : "", count), text))) {
        out.append(u"BUF:");
        AppendHexBytes(reinterpret_cast<const unsigned char*>(bytes), count, out);
        return;
      }
      out.append(u"STR:");
      AppendEscaped(text, out);
      return;
    }
    case ZUN_ARG_WIDE: {
      const auto* chars = static_cast<const char16_t*>(data);
      const std::size_t count = chars == nullptr ? 0 : length == UINT32_MAX ? WideLength(chars) : length;
      out.append(u"STR:");
      AppendEscaped(WStringView(chars ? chars : u"", count), out);
      return;
    }
    case ZUN_ARG_DOUBLE:
      AppendDouble(argument.value.d, out);
      return;
    default:
      return;
  }
}

}  // namespace

ResultCode RenderTypedArguments(ZunArgumentSource* source, WString& out) {
  if (source == nullptr) return RC_OK;
  try {
    bool first = true;
    for (;;) {
      ZunTypedArgument argument{};
      if (source->vtbl->NextArgument(source, &argument) == 0) return RC_OK;
      if (!first) out.append(u", ");
      first = false;
      out.push_back(u'\'');
      AppendArgument(argument, out);
      out.push_back(u'\'');
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
