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

bool HoldsLineBreak(WStringView text) { return text.find_first_of(u"\r\n") != WStringView::npos; }

// A comment reads back when its lines (split at CR LF) hold no line break of
// their own and the first is not empty: the reader drops empty lines at the
// start of a block.
bool CommentReadsBack(WStringView comment) {
  if (comment.starts_with(u"\r\n")) return false;
  for (std::size_t at = comment.find_first_of(u"\r\n"); at != WStringView::npos;
       at = comment.find_first_of(u"\r\n", at + 2)) {
    if (comment.substr(at, 2) != u"\r\n") return false;
  }
  return true;
}

// A comment block as ";" lines: an empty line inside the block as an empty
// line, a last empty line as a lone ";".
ResultCode WriteComment(LineSink& sink, WStringView comment, WString& line) {
  if (comment.empty()) return RC_OK;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = comment.find(u"\r\n", start);
    const bool last = end == WStringView::npos;
    const WStringView piece = comment.substr(start, last ? WStringView::npos : end - start);
    line.clear();
    if (!piece.empty() || last) line.push_back(u';');
    line.append(piece);
    const ResultCode rc = sink.WriteLine(line);
    if (Failed(rc) || last) return rc;
    start = end + 2;
  }
}

// The header line of a section, after the comment lines above it. The reader
// takes the first ";" of a header line and all after it as the last line of
// the section's comment, so the header of a name holding ";" carries that
// line itself, and the comment must end with it.
ResultCode WriteSectionHead(LineSink& sink, const ConfigSection& section, WString& line) {
  const WString& name = section.Name();
  WStringView comment = section.Comment();
  if (name.find(u']') != WString::npos || HoldsLineBreak(name) || !CommentReadsBack(comment)) {
    return RC_INVALID_DATA;
  }
  WStringView tail;
  if (const std::size_t semicolon = name.find(u';'); semicolon != WString::npos) {
    const std::size_t lastBreak = comment.rfind(u"\r\n");
    const std::size_t lastStart = lastBreak == WStringView::npos ? 0 : lastBreak + 2;
    const WStringView lastLine = comment.substr(lastStart);
    const WStringView inName = WStringView(name).substr(semicolon + 1);
    if (!lastLine.starts_with(inName) || lastLine.substr(inName.size(), 1) != u"]") return RC_INVALID_DATA;
    tail = lastLine.substr(inName.size() + 1);
    comment = comment.substr(0, lastBreak == WStringView::npos ? 0 : lastBreak);
  }
  ResultCode rc = WriteComment(sink, comment, line);
  if (Failed(rc)) return rc;
  line.assign(u"[");
  line += name;
  line += u"]";
  line += tail;
  return sink.WriteLine(line);
}

// A key name reads back when the reader neither trims it nor cuts it nor
// takes its line for a comment or a header.
bool KeyNameReadsBack(WStringView name) {
  return name.find(u'=') == WStringView::npos && !HoldsLineBreak(name) && TrimBlanks(name) == name &&
         (name.empty() || (name.front() != u';' && name.front() != u'['));
}

// Appends what follows "name = ": the value in a form SplitValue reads back
// as the key's value, then " ;" and the inline comment. A plain single value
// goes out unchanged when it reads back as itself and quoted otherwise; a
// value set in quoted form goes out as it is; a list is built from its items.
// RC_INVALID_DATA for a key the text cannot hold.
ResultCode AppendValueText(const ConfigKey& key, WString& line) {
  SplitValueResult expected;
  WString text;
  ResultCode rc = RC_OK;
  if (key.Kind() == KeyKind::kList) {
    if (key.Items().size() < 2) return RC_INVALID_DATA;
    expected.kind = KeyKind::kList;
    expected.items = key.Items();
    rc = JoinListItems(key.Items(), &text);
  } else if (key.ValueIsQuoted()) {
    text = key.Value();
    rc = SplitValue(text, &expected);
    if (Succeeded(rc) && (expected.kind != KeyKind::kSingle || !expected.inlineComment.empty())) {
      rc = RC_INVALID_DATA;
    }
  } else {
    expected.value = key.Value();
    SplitValueResult plain;
    rc = SplitValue(key.Value(), &plain);
    if (Succeeded(rc) && plain.kind == KeyKind::kSingle && plain.value == key.Value() &&
        plain.inlineComment.empty()) {
      text = key.Value();
    } else if (rc != RC_OUT_OF_MEMORY) {
      rc = QuoteValue(key.Value(), &text);
    }
  }
  if (Failed(rc)) return rc == RC_OUT_OF_MEMORY ? rc : RC_INVALID_DATA;
  if (!key.InlineComment().empty()) {
    text += u" ;";
    text += key.InlineComment();
  }
  expected.inlineComment = key.InlineComment();

  // What the reader makes of the text decides; anything else is refused.
  SplitValueResult back;
  rc = SplitValue(text, &back);
  if (rc == RC_OUT_OF_MEMORY) return rc;
  if (Failed(rc) || HoldsLineBreak(text) || back.kind != expected.kind || back.items != expected.items ||
      (back.kind == KeyKind::kSingle && back.value != expected.value) ||
      back.inlineComment != expected.inlineComment) {
    return RC_INVALID_DATA;
  }
  line += text;
  return RC_OK;
}

// Takes every line and keeps none: a dry run finds what the text cannot
// hold before the first line goes out.
class DiscardingSink final : public LineSink {
 public:
  ResultCode WriteLine(WStringView) override { return RC_OK; }
  ResultCode WriteText(WStringView) override { return RC_OK; }
};

ResultCode WriteLines(const ConfigDocument& document, LineSink& sink) {
  try {
    bool first = true;
    WString line;
    for (const auto& [sectionName, section] : document.Sections()) {
      ResultCode rc = RC_OK;
      if (!first && Failed(rc = sink.WriteLine(WStringView()))) return rc;
      first = false;
      if (Failed(rc = WriteSectionHead(sink, *section, line))) return rc;
      for (const auto& [keyName, key] : section->Keys()) {
        if (!KeyNameReadsBack(key->Name()) || !CommentReadsBack(key->Comment())) return RC_INVALID_DATA;
        if (Failed(rc = WriteComment(sink, key->Comment(), line))) return rc;
        line.assign(key->Name());
        line += u" = ";
        if (Failed(rc = AppendValueText(*key, line))) return rc;
        if (Failed(rc = sink.WriteLine(line))) return rc;
      }
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode CheckDocument(const ConfigDocument& document) {
  DiscardingSink discard;
  return WriteLines(document, discard);
}

}  // namespace

ResultCode WriteDocument(const ConfigDocument& document, LineSink& sink) {
  const ResultCode rc = CheckDocument(document);
  return Failed(rc) ? rc : WriteLines(document, sink);
}

ResultCode SaveDocumentFile(const ConfigDocument& document, WStringView path, bool protect) {
  ResultCode rc = CheckDocument(document);
  if (Failed(rc)) return rc;
  FileStream file;
  rc = file.Open(path, OpenKind::kCreateAlways, kAccessWrite, 0, 0, 0666, protect);
  if (Failed(rc)) return rc;
  TextFileWriter writer(file, TextEncoding::kUtf16Le, LineEnd::kCrLf);
  rc = writer.WriteMark();
  if (Succeeded(rc)) rc = WriteLines(document, writer);
  if (Succeeded(rc)) rc = writer.Flush();
  const ResultCode flushed = FlushFileBuffers(file);
  if (Succeeded(rc)) rc = flushed;
  file.Close();
  return rc;
}

}  // namespace zun
