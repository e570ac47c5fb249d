#include "config/config_writer.h"

#include <new>

#include "platform/file_flush.h"

namespace zun {

ResultCode MemoryLineSink::WriteLine(WStringView line) {
  try {
    text_.append(line);
    text_.append(u"\r\n");
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode MemoryLineSink::WriteText(WStringView text) {
  try {
    text_.append(text);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

TextFileWriter::TextFileWriter(Stream& stream, TextEncoding encoding, LineEnd lineEnd)
    : stream_(stream), encoding_(encoding) {
  switch (lineEnd) {
    case LineEnd::kLf:
      lineEnd_ = u"\n";
      break;
    case LineEnd::kCr:
      lineEnd_ = u"\r";
      break;
    default:
      lineEnd_ = u"\r\n";
      break;
  }
}

ResultCode TextFileWriter::WriteMark() {
  if (Failed(failure_)) return failure_;
  try {
    switch (encoding_) {
      case TextEncoding::kUtf16Le:
        pending_ += "\xFF\xFE";
        break;
      case TextEncoding::kUtf16Be:
        pending_ += "\xFE\xFF";
        break;
      case TextEncoding::kUtf8:
        pending_ += "\xEF\xBB\xBF";
        break;
      default:
        break;
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return failure_ = RC_OUT_OF_MEMORY;
  }
}

void TextFileWriter::Encode(WStringView text) {
  switch (encoding_) {
    case TextEncoding::kUtf16Le:
      for (char16_t c : text) {
        pending_.push_back(static_cast<char>(c & 0xFF));
        pending_.push_back(static_cast<char>(c >> 8));
      }
      break;
    case TextEncoding::kUtf16Be:
      for (char16_t c : text) {
        pending_.push_back(static_cast<char>(c >> 8));
        pending_.push_back(static_cast<char>(c & 0xFF));
      }
      break;
    case TextEncoding::kUtf32Le: {
      // Through UTF-8 and back: lone surrogates become U+FFFD on the way.
      const WString clean = ToUtf16(ToUtf8(text));
      for (std::size_t i = 0; i < clean.size(); ++i) {
        char32_t cp = clean[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < clean.size()) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (clean[++i] - 0xDC00);
        }
        for (int k = 0; k < 4; ++k) pending_.push_back(static_cast<char>((cp >> (8 * k)) & 0xFF));
      }
      break;
    }
    default:
      pending_ += ToUtf8(text);
      break;
  }
}

ResultCode TextFileWriter::Put(WStringView text, bool endLine) {
  if (Failed(failure_)) return failure_;
  try {
    std::size_t start = 0;
    for (std::size_t feed = text.find(u'\n'); feed != WStringView::npos; feed = text.find(u'\n', start)) {
      Encode(text.substr(start, feed - start));
      Encode(lineEnd_);
      start = feed + 1;
    }
    Encode(text.substr(start));
    if (endLine) Encode(lineEnd_);
  } catch (const std::bad_alloc&) {
    return failure_ = RC_OUT_OF_MEMORY;
  }
  return pending_.size() >= kFlushSize ? Flush() : RC_OK;
}

ResultCode TextFileWriter::WriteLine(WStringView line) { return Put(line, true); }

ResultCode TextFileWriter::WriteText(WStringView text) { return Put(text, false); }

ResultCode TextFileWriter::Flush() {
  if (Failed(failure_)) return failure_;
  std::size_t written = 0;
  while (written < pending_.size()) {
    const std::size_t left = pending_.size() - written;
    const auto length = static_cast<std::uint32_t>(left > 0x40000000u ? 0x40000000u : left);
    std::uint32_t done = 0;
    const ResultCode rc = stream_.Write(pending_.data() + written, length, &done);
    if (Failed(rc)) return failure_ = rc;
    if (done == 0) return failure_ = RC_WRITE_FAULT;
    written += done;
  }
  pending_.clear();
  return RC_OK;
}

namespace {

// A comment block as ";" lines; empty pieces become empty lines and a final
// CR LF adds no line.
ResultCode WriteComment(LineSink& sink, WStringView comment) {
  WString line;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = comment.find(u"\r\n", start);
    const WStringView piece =
        comment.substr(start, end == WStringView::npos ? WStringView::npos : end - start);
    if (end == WStringView::npos && piece.empty()) return RC_OK;
    line.clear();
    if (!piece.empty()) {
      line.push_back(u';');
      line.append(piece);
    }
    const ResultCode rc = sink.WriteLine(line);
    if (Failed(rc)) return rc;
    if (end == WStringView::npos) return RC_OK;
    start = end + 2;
  }
}

// A plain value goes out unchanged when it reads back as itself, and quoted
// otherwise; lists and set values already are in written form.
void AppendWrittenValue(const ConfigKey& key, WString& line) {
  const WString& value = key.Value();
  if (value.empty()) return;
  if (!key.ValueIsQuoted()) {
    SplitValueResult back;
    const ResultCode rc = SplitValue(value, &back);
    if (rc == RC_OUT_OF_MEMORY) throw std::bad_alloc();
    if (Failed(rc) || back.kind != KeyKind::kSingle || back.value != value || !back.inlineComment.empty()) {
      WString quoted;
      if (Failed(QuoteValue(value, &quoted))) throw std::bad_alloc();
      line += quoted;
      return;
    }
  }
  line += value;
}

}  // namespace

ResultCode WriteDocument(const ConfigDocument& document, LineSink& sink) {
  try {
    bool first = true;
    WString line;
    for (const auto& [sectionName, section] : document.Sections()) {
      ResultCode rc = RC_OK;
      if (!first && Failed(rc = sink.WriteLine(WStringView()))) return rc;
      first = false;
      if (!section->Comment().empty() && Failed(rc = WriteComment(sink, section->Comment()))) return rc;
      line.assign(u"[");
      line += section->Name();
      line += u"]";
      if (Failed(rc = sink.WriteLine(line))) return rc;
      for (const auto& [keyName, key] : section->Keys()) {
        if (!key->Comment().empty() && Failed(rc = WriteComment(sink, key->Comment()))) return rc;
        line.assign(key->Name());
        line += u" = ";
        AppendWrittenValue(*key, line);
        if (!key->InlineComment().empty()) {
          line += u" ;";
          line += key->InlineComment();
        }
        if (Failed(rc = sink.WriteLine(line))) return rc;
      }
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode SaveDocumentFile(const ConfigDocument& document, WStringView path, bool protect) {
  FileStream file;
  ResultCode rc = file.Open(path, OpenKind::kCreateAlways, kAccessWrite, 0, 0, 0666, protect);
  if (Failed(rc)) return rc;
  TextFileWriter writer(file, TextEncoding::kUtf16Le, LineEnd::kCrLf);
  rc = writer.WriteMark();
  if (Succeeded(rc)) rc = WriteDocument(document, writer);
  if (Succeeded(rc)) rc = writer.Flush();
  const ResultCode flushed = FlushFileBuffers(file);
  if (Succeeded(rc)) rc = flushed;
  file.Close();
  return rc;
}

}  // namespace zun
