#pragma once
// Rendering a ConfigDocument as configuration text: into memory, onto any
// stream, or into a file of its own.
#include <string>

#include "base/result_code.h"
#include "base/text.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "platform/stream.h"

namespace zun {

// Where a document's lines go. Each operation returns the first failure of
// the target; the writer stops there.
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual ResultCode WriteLine(WStringView line) = 0;
  virtual ResultCode WriteText(WStringView text) = 0;
};

// Collects a document as one text: every line followed by CR LF; line feeds
// inside a text stay as they are.
class MemoryLineSink : public LineSink {
 public:
  ResultCode WriteLine(WStringView line) override;
  ResultCode WriteText(WStringView text) override;
  const WString& Text() const { return text_; }

 private:
  WString text_;
};

// Writes lines onto a stream at its current position in the given encoding
// (kAnsi and kNone write UTF-8 without a mark), each followed by the given
// line end; a line feed inside a line or text becomes that line end too.
// Output is buffered: Flush before the stream is closed. The stream must
// outlive the writer; one thread at a time.
class TextFileWriter : public LineSink {
 public:
  TextFileWriter(Stream& stream, TextEncoding encoding, LineEnd lineEnd);

  // The encoding's byte-order mark: FF FE, FE FF or EF BB BF; nothing for
  // encodings without one.
  ResultCode WriteMark();
  ResultCode WriteLine(WStringView line) override;
  ResultCode WriteText(WStringView text) override;
  // Hands the buffered bytes to the stream; a short write is RC_WRITE_FAULT.
  ResultCode Flush();

 private:
  static constexpr std::size_t kFlushSize = 4096;

  ResultCode Put(WStringView text, bool endLine);
  void Encode(WStringView text);

  Stream& stream_;
  TextEncoding encoding_;
  WString lineEnd_;
  std::string pending_;
  ResultCode failure_ = RC_OK;
};

// Sections in name order, an empty line between two sections, each comment
// block as ";" lines above its header or key, keys in name order as
// "name = value" with " ;comment" when the key has an inline comment. Only
// text that reads back as the same document is written: a plain value that
// would not read back as itself is quoted, a list is written from its items,
// and a document holding what the text cannot hold (a line break anywhere,
// see docs/platform.md for the rest) is refused with RC_INVALID_DATA before
// its first line goes out. Otherwise the first failure of the sink.
ResultCode WriteDocument(const ConfigDocument& document, LineSink& sink);

// Creates or replaces the file, writes the document as UTF-16LE with a
// byte-order mark and CR LF line ends, and flushes it to disk. With
// `protect` the file gets mode 0666 whatever the umask. Returns the first
// failure (open, write or flush); a refused document leaves an existing file
// as it was.
ResultCode SaveDocumentFile(const ConfigDocument& document, WStringView path, bool protect);

}  // namespace zun
