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
struct InputReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  std::size_t Left() const { return size - at; }
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
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
};

// The QueryInterface of a host's object whose one interface is `kId`, in
// versions 0 and 1.
template <std::uint32_t kId, typename Face>
void* QueryHostInterface(Face* self, std::uint32_t id, std::uint32_t version, std::uint8_t* found) {
  const bool match = id == kId && version < 2;
  if (found != nullptr) *found = match;
  return match ? self : nullptr;
}

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

// Closes the appender's file (footer written) and hands back what follows
// the UTF-8 mark it starts with; the file is removed, so the next record
// starts a new one. A log file holds no zero byte.
inline std::string TakeFile(FileAppender& appender) {
  Check(appender.Flush() == RC_OK);
  WString path;
  Check(appender.FullPath(&path) == RC_OK);
  std::ifstream in(ToUtf8(path), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::filesystem::remove(ToUtf8(path));
  Check((bytes.empty() || bytes.starts_with("\xEF\xBB\xBF")) && bytes.find('\0') == std::string::npos);
  return bytes.empty() ? bytes : bytes.substr(3);
}

// The lines of TakeFile: CR LF ends every line and occurs nowhere else, so
// each line written is one line read back.
inline std::vector<std::string> TakeLines(FileAppender& appender) {
  const std::string text = TakeFile(appender);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < text.size(); at = end + 2) {
    end = text.find("\r\n", at);
    Check(end != std::string::npos);
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

}  // namespace zun::fuzz
