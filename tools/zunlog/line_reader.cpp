#include "line_reader.h"

#include <cstring>

#include "unicode.h"

namespace zunlog {

namespace {

constexpr std::size_t kChunk = 1 << 16;

}  // namespace

bool LineReader::Fill() {
  data_.erase(0, pos_);
  pos_ = 0;
  const std::size_t old = data_.size();
  data_.resize(old + kChunk);
  const std::size_t n = std::fread(data_.data() + old, 1, kChunk, file_);
  data_.resize(old + n);
  return n > 0;
}

std::size_t LineReader::FindLineFeed(std::size_t from) const {
  if (!utf16_) {
    const void* hit = std::memchr(data_.data() + from, '\n', data_.size() - from);
    return hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - data_.data())
                          : std::string::npos;
  }
  for (std::size_t i = from; i + 1 < data_.size(); i += 2) {
    if (data_[i] == '\n' && data_[i + 1] == '\0') return i;
  }
  return std::string::npos;
}

bool LineReader::Next(std::string* line, std::string* end) {
  if (!started_) {
    started_ = true;
    while (data_.size() < 3 && Fill()) {
    }
    std::size_t mark = 0;
    if (data_.starts_with("\xEF\xBB\xBF")) mark = 3;
    if (data_.starts_with("\xFF\xFE")) mark = 2, utf16_ = true;
    pos_ = mark;
    consumed_ = mark;
  }
  const std::size_t unit = utf16_ ? 2 : 1;
  std::size_t searched = pos_;
  std::size_t feed;
  while ((feed = FindLineFeed(searched)) == std::string::npos) {
    // Only whole units have been searched.
    searched = data_.size() - (data_.size() - pos_) % unit - pos_;
    if (!Fill()) break;
  }
  if (feed == std::string::npos) {
    feed = data_.size();
    if (feed == pos_) return false;
  }
  std::string_view bytes(data_.data() + pos_, feed - pos_);
  const bool hasFeed = feed < data_.size();
  const bool hasReturn = hasFeed && bytes.size() >= unit && bytes[bytes.size() - unit] == '\r' &&
                         (unit == 1 || bytes.back() == '\0');
  if (hasReturn) bytes.remove_suffix(unit);
  *end = hasReturn ? "\r\n" : hasFeed ? "\n" : "";
  if (utf16_) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                       (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    }
    *line = Utf16ToUtf8(units);
  } else {
    line->assign(bytes);
  }
  const std::size_t next = hasFeed ? feed + unit : feed;
  consumed_ += next - pos_;
  pos_ = next;
  return true;
}

}  // namespace zunlog
