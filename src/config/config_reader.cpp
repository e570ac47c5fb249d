#include "config/config_reader.h"

#include <cstring>
#include <new>
#include <utility>

namespace zun {

ResultCode MemoryLineSource::ReadLine(WString* line) {
  if (line == nullptr) return RC_INVALID_PARAMETER;
  if (position_ >= text_.size()) return RC_INPUT_TRUNCATED;
  const std::size_t feed = text_.find(u'\n', position_);
  std::size_t end = feed == WStringView::npos ? text_.size() : feed;
  const std::size_t next = feed == WStringView::npos ? text_.size() : feed + 1;
  if (end > position_ && text_[end - 1] == u'\r') --end;
  try {
    line->assign(text_.substr(position_, end - position_));
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  position_ = next;
  return position_ >= text_.size() ? RC_INFO_LAST_INPUT : RC_OK;
}

TextFileReader::TextFileReader(Stream& stream, TextEncoding preset)
    : stream_(stream),
      preset_(static_cast<std::uint32_t>(preset) <= static_cast<std::uint32_t>(TextEncoding::kUtf32Le)
                  ? preset
                  : TextEncoding::kNone),
      offset_(stream.GetPosition()) {}

void TextFileReader::Refill() {
  if (begin_ > 0) {
    std::memmove(block_.data(), block_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (endOfStream_ || end_ == kBlockSize) return;
  const auto room = static_cast<std::uint32_t>(kBlockSize - end_);
  std::uint32_t done = 0;
  const ResultCode rc = stream_.ReadAt(offset_, block_.data() + end_, room, &done);
  if (done > room) done = 0;
  offset_ += done;
  end_ += done;
  // A short read is the end of the stream; so is any failure, which is kept
  // for ReadError.
  if (Failed(rc)) {
    if (rc != RC_INPUT_TRUNCATED) readError_ = rc;
    endOfStream_ = true;
  } else if (rc == RC_INFO_LAST_INPUT || done == 0) {
    endOfStream_ = true;
  }
}

// Text without a mark is UTF-8 only when all of it is; one bad sequence
// anywhere makes the whole file Windows-1252. Checked once, up front, so
// every line of a file is decoded the same way.
bool TextFileReader::AnsiTextIsUtf8(std::uint64_t from) {
  std::array<std::uint8_t, kBlockSize> chunk;
  int need = 0;
  std::uint8_t low = 0x80, high = 0xBF;
  for (;;) {
    std::uint32_t done = 0;
    const ResultCode rc = stream_.ReadAt(from, chunk.data(), kBlockSize, &done);
    if (done > kBlockSize) done = 0;
    // A stream that cannot be read ahead is decoded line by line instead.
    if (Failed(rc) && rc != RC_INPUT_TRUNCATED) return true;
    for (std::uint32_t i = 0; i < done; ++i) {
      const std::uint8_t b = chunk[i];
      if (need > 0) {
        if (b < low || b > high) return false;
        low = 0x80, high = 0xBF;
        --need;
      } else if (b < 0x80) {
        continue;
      } else if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
      } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) low = 0xA0;   // no overlong forms
        if (b == 0xED) high = 0x9F;  // no surrogates
      } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
      } else {
        return false;
      }
    }
    from += done;
    if (Failed(rc) || rc == RC_INFO_LAST_INPUT || done == 0) return need == 0;
  }
}

void TextFileReader::Start() {
  started_ = true;
  const std::uint64_t start = offset_;
  while (!endOfStream_ && end_ < 3) Refill();
  TextEncoding marked = TextEncoding::kAnsi;
  std::size_t markLength = 0;
  if (end_ >= 2 && block_[0] == 0xFF && block_[1] == 0xFE) {
    marked = TextEncoding::kUtf16Le, markLength = 2;
  } else if (end_ >= 2 && block_[0] == 0xFE && block_[1] == 0xFF) {
    marked = TextEncoding::kUtf16Be, markLength = 2;
  } else if (end_ >= 3 && block_[0] == 0xEF && block_[1] == 0xBB && block_[2] == 0xBF) {
    marked = TextEncoding::kUtf8, markLength = 3;
  }
  encoding_ = preset_ != TextEncoding::kNone ? preset_ : marked;
  begin_ = markLength;
  switch (encoding_) {
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
      unit_ = 2;
      break;
    case TextEncoding::kUtf32Le:
      unit_ = 4;
      break;
    default:
      unit_ = 1;
      break;
  }
  if (encoding_ == TextEncoding::kAnsi) ansiIsUtf8_ = AnsiTextIsUtf8(start + markLength);
}

std::uint32_t TextFileReader::UnitAt(std::size_t at) const {
  const std::uint8_t* p = block_.data() + at;
  switch (encoding_) {
    case TextEncoding::kUtf16Le:
      return p[0] | (std::uint32_t(p[1]) << 8);
    case TextEncoding::kUtf16Be:
      return (std::uint32_t(p[0]) << 8) | p[1];
    case TextEncoding::kUtf32Le:
      return p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
    default:
      return p[0];
  }
}

ResultCode TextFileReader::Decode(std::string_view bytes, WString* line) const {
  line->clear();
  switch (encoding_) {
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be: {
      const bool bigEndian = encoding_ == TextEncoding::kUtf16Be;
      line->reserve(bytes.size() / 2);
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<std::uint8_t>(bytes[i]);
        const auto second = static_cast<std::uint8_t>(bytes[i + 1]);
        line->push_back(bigEndian ? char16_t((first << 8) | second) : char16_t(first | (second << 8)));
      }
      break;
    }
    case TextEncoding::kUtf32Le:
      line->reserve(bytes.size() / 4);
      for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        char32_t cp = 0;
        for (int k = 3; k >= 0; --k) cp = (cp << 8) | static_cast<std::uint8_t>(bytes[i + k]);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x10000) {
          line->push_back(char16_t(cp));
        } else {
          cp -= 0x10000;
          line->push_back(char16_t(0xD800 + (cp >> 10)));
          line->push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        }
      }
      break;
    case TextEncoding::kUtf8:
      *line = ToUtf16(bytes);
      break;
    default:
      if (!ansiIsUtf8_ || Failed(AppendUtf16FromUtf8(bytes, *line))) AppendUtf16FromCp1252(bytes, *line);
      break;
  }
  return RC_OK;
}

ResultCode TextFileReader::Emit(std::size_t lineEndOffset, std::size_t nextOffset, LineEnd end,
                                WString* line) {
  longLine_.append(reinterpret_cast<const char*>(block_.data()) + begin_, lineEndOffset - begin_);
  begin_ = nextOffset;
  if (lineEnd_ == LineEnd::kNone) lineEnd_ = end;
  return Decode(longLine_, line);
}

ResultCode TextFileReader::ReadLine(WString* line) {
  if (line == nullptr) return RC_INVALID_PARAMETER;
  try {
    if (!started_) Start();
    longLine_.clear();
    for (;;) {
      const std::size_t whole = begin_ + (end_ - begin_) / unit_ * unit_;
      std::size_t keep = whole;
      for (std::size_t at = begin_; at < whole; at += unit_) {
        const std::uint32_t c = UnitAt(at);
        if (c == u'\n') return Emit(at, at + unit_, LineEnd::kLf, line);
        if (c != u'\r') continue;
        if (at + unit_ < whole) {
          if (UnitAt(at + unit_) == u'\n') return Emit(at, at + 2 * unit_, LineEnd::kCrLf, line);
          return Emit(at, at + unit_, LineEnd::kCr, line);
        }
        if (endOfStream_) return Emit(at, at + unit_, LineEnd::kCr, line);
        keep = at;  // a CR at the end of the block: its LF may follow
        break;
      }
      if (endOfStream_) {
        longLine_.append(reinterpret_cast<const char*>(block_.data()) + begin_, whole - begin_);
        begin_ = end_ = 0;
        if (longLine_.empty()) return RC_INPUT_TRUNCATED;
        const ResultCode rc = Decode(longLine_, line);
        longLine_.clear();
        return Failed(rc) ? rc : RC_INFO_LAST_INPUT;
      }
      longLine_.append(reinterpret_cast<const char*>(block_.data()) + begin_, keep - begin_);
      begin_ = keep;
      Refill();
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

// The state of one ParseDocument run.
class DocumentParser {
 public:
  explicit DocumentParser(ConfigDocument& document) : document_(document) {}

  void Line(WStringView line) {
    ++document_.lineCount_;
    std::size_t first = 0;
    while (first < line.size() && (line[first] == u' ' || line[first] == u'\t' || line[first] == u'\v')) {
      ++first;
    }
    if (line.empty()) {
      ++blankLines_;
    } else if (first < line.size() && line[first] == u';') {
      // Blank lines inside a comment block stay in it as empty lines.
      for (; blankLines_ > 0; --blankLines_) AddComment(WStringView());
      AddComment(line);
    } else if (first < line.size() && line[first] == u'[') {
      Header(line, first);
    } else {
      KeyLine(line);
    }
  }

 private:
  void Reject(ResultCode code) { document_.errors_.push_back({document_.lineCount_, code}); }

  void AddComment(WStringView line) {
    WStringView text = TrimBlanksLeft(line);
    if (!text.empty() && text.front() == u';') text.remove_prefix(1);
    if (!pending_.empty()) pending_ += u"\r\n";
    pending_ += text;
  }

  void Header(WStringView line, std::size_t open) {
    const std::size_t close = line.find(u']', 1);
    if (close == WStringView::npos) {
      RejectHeader(RC_TEXT_ERROR_16);
      return;
    }
    const WStringView name = line.substr(open + 1, close - open - 1);
    if (document_.sections_.find(name) != document_.sections_.end()) {
      RejectHeader(RC_TEXT_ERROR_17);
      return;
    }
    const std::size_t semicolon = line.find(u';', open);
    if (semicolon != WStringView::npos) AddComment(line.substr(semicolon));
    ConfigSectionRef section;
    if (Failed(ConfigSection::Create(name, &section))) throw std::bad_alloc();
    if (Failed(section->SetComment(pending_))) throw std::bad_alloc();
    document_.sections_.try_emplace(section->Name(), section);
    current_ = std::move(section);
    skipping_ = false;
    blankLines_ = 0;
    pending_.clear();
  }

  // Keys after a rejected header belong to no section; they are dropped
  // quietly until the next good header.
  void RejectHeader(ResultCode code) {
    Reject(code);
    current_.reset();
    skipping_ = true;
    pending_.clear();
  }

  void KeyLine(WStringView line) {
    const std::size_t equals = line.find(u'=');
    if (equals == WStringView::npos) {
      Reject(RC_TEXT_ERROR_19);
    } else if (!current_) {
      if (!skipping_) Reject(RC_TEXT_ERROR_18);
    } else {
      const WStringView name = TrimBlanks(line.substr(0, equals));
      SplitValueResult parsed;
      ResultCode rc = RC_OK;
      if (current_->HasKey(name)) {
        Reject(RC_TEXT_ERROR_1A);
      } else if (rc = SplitValue(line.substr(equals + 1), &parsed); Failed(rc)) {
        if (rc == RC_OUT_OF_MEMORY) throw std::bad_alloc();
        Reject(rc);
      } else {
        ConfigKeyRef key;
        if (Failed(ConfigKey::Create(name, &key))) throw std::bad_alloc();
        if (Failed(key->Set(name, pending_, WStringView()))) throw std::bad_alloc();
        key->SetParsedValue(std::move(parsed));
        if (Failed(current_->AddKey(std::move(key)))) throw std::bad_alloc();
      }
    }
    pending_.clear();
    blankLines_ = 0;
  }

  ConfigDocument& document_;
  ConfigSectionRef current_;
  WString pending_;
  std::uint64_t blankLines_ = 0;
  bool skipping_ = false;
};

ResultCode ParseDocument(ConfigDocument& document, LineSource& source) {
  document.Clear();
  try {
    DocumentParser parser(document);
    WString line;
    for (;;) {
      const ResultCode rc = source.ReadLine(&line);
      if (rc == RC_OUT_OF_MEMORY) return rc;
      if (Failed(rc)) return RC_OK;
      parser.Line(line);
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode LoadDocumentFile(ConfigDocument& document, WStringView path) {
  FileStream file;
  const ResultCode rc = file.Open(path, OpenKind::kOpenExisting, kAccessRead, kShareRead, 0);
  if (Failed(rc)) return rc;
  TextFileReader reader(file);
  return ParseDocument(document, reader);
}

}  // namespace zun
