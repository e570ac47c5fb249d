#pragma once
// Typed arguments: the tagged list that hosts pass through a va_list, sources
// that hand typed arguments over one at a time, and their rendering as a
// message text. Texts and buffers that arguments point to are never copied
// or owned here; they must outlive the call that reads them.
#include <cstdarg>
#include <cstddef>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "zunlogx/zunlogx.h"

namespace zun {

// Reads the next argument of a tagged list with va_arg(*args, T), advancing
// the caller's list. False at the end of the list: tag ZUN_TAG_END, a tag of
// 19 or more (or negative), or a null `args`. Values narrower than int are
// read promoted and narrowed, with the extension the tag names.
bool ReadTaggedArgument(va_list* args, ZunTypedArgument* out);

// A list of typed arguments. Holds up to kInlineCount arguments without
// allocating. Not thread-safe.
class TypedArguments {
 public:
  static constexpr std::size_t kInlineCount = 8;

  TypedArguments() = default;
  TypedArguments(const TypedArguments&) = delete;
  TypedArguments& operator=(const TypedArguments&) = delete;

  // RC_OUT_OF_MEMORY when the list cannot grow; the list is then unchanged.
  ResultCode Append(const ZunTypedArgument& argument);
  std::size_t Count() const { return count_; }
  const ZunTypedArgument& operator[](std::size_t index) const {
    return index < kInlineCount ? inline_[index] : more_[index - kInlineCount];
  }
  void Clear();

 private:
  ZunTypedArgument inline_[kInlineCount];
  std::vector<ZunTypedArgument> more_;
  std::size_t count_ = 0;
};

// Appends every argument of a tagged list (the caller's list is advanced
// past its end marker) or of a source (read until it reports the end).
ResultCode ReadTaggedArguments(va_list* args, TypedArguments* out);
ResultCode ReadSourceArguments(ZunArgumentSource* source, TypedArguments* out);

// A ZunArgumentSource over a TypedArguments, which must outlive it. Unlike a
// host's source it can start over, so a format can be run again.
class TypedArgumentCursor {
 public:
  explicit TypedArgumentCursor(const TypedArguments& arguments);
  TypedArgumentCursor(const TypedArgumentCursor&) = delete;
  TypedArgumentCursor& operator=(const TypedArgumentCursor&) = delete;

  ZunArgumentSource* Source() { return &source_; }
  void Rewind() { next_ = 0; }
  // How many arguments were handed out since the start or the last Rewind.
  std::size_t Position() const { return next_; }

 private:
  static uint8_t NextArgument(ZunArgumentSource* self, ZunTypedArgument* out);

  ZunArgumentSource source_;  // first member: the source pointer is the object
  const TypedArguments* arguments_;
  std::size_t next_ = 0;
};

// A ZunArgumentSource that reads a tagged list lazily from the caller's
// va_list, advancing it; nothing is stored. `args` may be null (no
// arguments).
class TaggedListSource {
 public:
  explicit TaggedListSource(va_list* args);
  TaggedListSource(const TaggedListSource&) = delete;
  TaggedListSource& operator=(const TaggedListSource&) = delete;

  ZunArgumentSource* Source() { return &source_; }

 private:
  static uint8_t NextArgument(ZunArgumentSource* self, ZunTypedArgument* out);

  ZunArgumentSource source_;  // first member: the source pointer is the object
  va_list* args_;
  bool ended_ = false;
};

// The QueryInterface slot of the library's own argument sources: itself for
// ZUN_IID_ARGUMENT_SOURCE below version 2, else null.
void* QueryArgumentSource(ZunArgumentSource* self, uint32_t id, uint32_t version, uint8_t* found);

// Appends the arguments of `source` (null: none) to `out`: each in single
// quotes, separated by ", "; kind 1 'QWORD:0x' and 16 hex digits, kind 2
// 'INT64:0x' and 16 hex digits of the two's complement, kind 3 'BUF:' and two
// hex digits per byte, kinds 4 and 5 'STR:' and the escaped text (a zero as
// backslash 0, CR and LF as U+000B, a quote doubled; UTF-8 that does not
// decode is written as kind 3), kind 6 'DOUBLE:' in "%.16e" form or nan, inf,
// -inf; other kinds nothing between the quotes. RC_OUT_OF_MEMORY leaves
// `out` partly appended.
ResultCode RenderTypedArguments(ZunArgumentSource* source, WString& out);

}  // namespace zun
