#pragma once
// Reading configuration text into a ConfigDocument. The reader is lenient: a
// rejected line is recorded in the document with its number and code and
// the rest of the text is still read.
#include <array>
#include <cstdint>
#include <string>

#include "base/result_code.h"
#include "base/text.h"
#include "config/config_document.h"
#include "platform/stream.h"

namespace zun {

// Encodings of text files. kAnsi stands for the system code page: strict
// UTF-8 here, and Windows-1252 for a file that is not valid UTF-8.
// kUtf32Le (four-byte units) has no byte-order mark.
enum class TextEncoding : std::uint32_t {
  kNone = 0,
  kAnsi = 1,
  kUtf16Le = 2,
  kUtf16Be = 3,
  kUtf8 = 4,
  kUtf32Le = 5,
};

enum class LineEnd : std::uint32_t { kNone = 0, kCrLf = 1, kLf = 2, kCr = 3 };

// Where the reader gets its lines. ReadLine gives RC_OK for a line that is
// not the last, RC_INFO_LAST_INPUT for the last one (the text is valid), and
// RC_INPUT_TRUNCATED when no line is left; any other failure ends reading.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual ResultCode ReadLine(WString* line) = 0;
};

// Lines of a text in memory, which must outlive the source. A line ends at
// a line feed; a carriage return just before it is dropped, one elsewhere
// stays in the line. Text after the last line feed is a last line (without
// a final carriage return); text ending in a line feed has no empty line
// after it.
class MemoryLineSource : public LineSource {
 public:
  explicit MemoryLineSource(WStringView text) : text_(text) {}
  ResultCode ReadLine(WString* line) override;

 private:
  WStringView text_;
  std::size_t position_ = 0;
};

// Lines of a file (or any stream), read from the stream's current position
// in blocks. The first bytes select the encoding: FF FE UTF-16LE, FE FF
// UTF-16BE, EF BB BF UTF-8 (the mark is skipped), anything else kAnsi. A
// preset encoding wins over the mark, which is still skipped when
// recognised. Lines end at CR LF, LF or a lone CR; the first end found is
// LineEndFound(). An incomplete unit at the end of the stream is dropped.
// The stream must outlive the reader; one thread at a time.
class TextFileReader : public LineSource {
 public:
  explicit TextFileReader(Stream& stream, TextEncoding preset = TextEncoding::kNone);
  ResultCode ReadLine(WString* line) override;

  // The encoding in use; kNone before the first ReadLine.
  TextEncoding Encoding() const { return encoding_; }
  LineEnd LineEndFound() const { return lineEnd_; }
  // The failure that ended reading early, or RC_OK.
  ResultCode ReadError() const { return readError_; }

 private:
  static constexpr std::size_t kBlockSize = 4096;

  void Start();
  void Refill();
  bool AnsiTextIsUtf8(std::uint64_t from);
  std::uint32_t UnitAt(std::size_t offset) const;
  ResultCode Decode(std::string_view bytes, WString* line) const;
  ResultCode Emit(std::size_t lineEndOffset, std::size_t nextOffset, LineEnd end, WString* line);

  Stream& stream_;
  TextEncoding preset_;
  TextEncoding encoding_ = TextEncoding::kNone;
  std::size_t unit_ = 1;
  bool ansiIsUtf8_ = true;
  LineEnd lineEnd_ = LineEnd::kNone;
  bool started_ = false;
  bool endOfStream_ = false;
  ResultCode readError_ = RC_OK;
  std::uint64_t offset_ = 0;
  std::array<std::uint8_t, kBlockSize> block_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // Bytes of a line longer than what was left of its block.
  std::string longLine_;
};

// Empties the document, then reads every line of the source into it.
// Rejected lines land in the document's error list, never in the result:
// the result is RC_OK when the source is exhausted (or fails), and
// RC_OUT_OF_MEMORY when memory runs out; the document read so far stays
// valid then.
ResultCode ParseDocument(ConfigDocument& document, LineSource& source);

// Opens the file for reading and parses it with a TextFileReader. An open
// failure is returned unchanged.
ResultCode LoadDocumentFile(ConfigDocument& document, WStringView path);

}  // namespace zun
