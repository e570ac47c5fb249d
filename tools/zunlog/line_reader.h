#pragma once
// Lines of a log file: UTF-8 (with or without a byte-order mark) or UTF-16LE
// with its mark, handed out as UTF-8 with their line end as read.
#include <cstdint>
#include <cstdio>
#include <string>

namespace zunlog {

class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file) {}

  // The next line without its end, and the end: "\r\n", "\n", or nothing
  // for a last line without one. False when no line is left.
  bool Next(std::string* line, std::string* end);
  // Bytes of the file consumed so far.
  std::uint64_t BytesRead() const { return consumed_; }

 private:
  bool Fill();
  std::size_t FindLineFeed(std::size_t from) const;

  std::FILE* file_;
  std::string data_;
  std::size_t pos_ = 0;
  bool started_ = false;
  bool utf16_ = false;
  std::uint64_t consumed_ = 0;
};

}  // namespace zunlog
