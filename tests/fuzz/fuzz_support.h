#pragma once
// What the fuzz targets share: a failed check aborts (libFuzzer keeps the
// input), a reader that turns the input into values, a temporary folder for
// the targets that write log files, and the checks every log file must pass.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "appenders/file_appender.h"
#include "base/text.h"
#include "config/config_reader.h"

namespace zun::fuzz {

// Names the failed check's line, for the report of the input that failed it.
inline void Check(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "%s:%d: check failed\n", file, line);
  std::abort();
}

// Hands out the input a piece at a time; past the end every value is 0.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ == size_; }
  std::size_t Left() const { return size_ - at_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint64_t Number(int bytes) {
    std::uint64_t value = 0;
    for (int k = 0; k < bytes; ++k) value |= static_cast<std::uint64_t>(Byte()) << (8 * k);
    return value;
  }
  // Up to `units` UTF-16 units from pairs of bytes.
  WString Units(std::size_t units) {
    WString text;
    while (units-- > 0 && Left() >= 2) text.push_back(static_cast<char16_t>(Number(2)));
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A folder of its own under $TMPDIR (or /tmp), removed when the process ends.
inline const std::filesystem::path& TempFolder() {
  static const std::filesystem::path folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/zunlogx-fuzz-XXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr);
    std::atexit([] { std::filesystem::remove_all(TempFolder()); });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a new log file: it starts with the UTF-8 mark, holds no zero
// byte, and CR LF ends every line and occurs nowhere else, so each line
// written is one line read back.
inline std::vector<std::string> LogFileLines(const std::string& bytes) {
  std::vector<std::string> lines;
  if (bytes.empty()) return lines;
  Check(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0);
  Check(bytes.find('\0') == std::string::npos);
  for (std::size_t at = 3; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    Check(end != std::string::npos);
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// How a line's text reaches a log file: as UTF-8, unchanged (records hold
// no zero; line breaks are kept unless an appender escapes them).
inline std::string FileLine(WStringView text) { return ToUtf8(text); }

// The first section of configuration text.
inline ConfigSectionRef SectionOf(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  Check(ParseDocument(document, source) == RC_OK);
  ConfigSectionRef section;
  Check(document.EnumerateSections().Current(&section) == RC_OK);
  return section;
}

// A file appender writing `name` in the temporary folder; no layout yet.
inline std::unique_ptr<FileAppender> MakeFileAppender(AppenderOwner* owner, WStringView name) {
  std::unique_ptr<FileAppender> appender;
  Check(FileAppender::Create(owner, name, ToUtf16(TempFolder().string()), &appender) == RC_OK);
  const WString keys = u"[file]\nAppenderType = File\nFileName = " + WString(name) + u"\n";
  Check(appender->LoadConfig(*SectionOf(keys)) == RC_OK);
  return appender;
}

// Closes the appender's file (footer written) and hands back its lines; the
// file is removed, so the next record starts a new one.
inline std::vector<std::string> TakeLines(FileAppender& appender) {
  Check(appender.Flush() == RC_OK);
  WString path;
  Check(appender.FullPath(&path) == RC_OK);
  const std::filesystem::path file(ToUtf8(path));
  std::vector<std::string> lines = LogFileLines(ReadFile(file));
  std::filesystem::remove(file);
  return lines;
}

}  // namespace zun::fuzz
