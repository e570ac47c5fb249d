#include "appenders/rolling_names.h"

#include <algorithm>
#include <cstdio>

#include "platform/paths.h"

namespace zun {

namespace {

WString Ascii(const char* text) { return WString(text, text + std::char_traits<char>::length(text)); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

WString DecimalText(std::int64_t number) { return Ascii(std::to_string(number).c_str()); }

WStringView FileNamePart(WStringView path) {
  std::size_t start = path.size();
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  return path.substr(start);
}

WString BackupName(WStringView path, std::uint32_t number) {
  WString name(path);
  name += u'.';
  name += DecimalText(number);
  return name;
}

WString LockFileName(WStringView path) {
  WString name(path);
  name += u".lock";
  return name;
}

WStringView Extension(WStringView path) {
  const WStringView name = FileNamePart(path);
  const std::size_t dot = name.rfind(u'.');
  if (dot == WStringView::npos || dot == 0) return {};
  return name.substr(dot);
}

WString DatedName(WStringView path, FileTime day) {
  CalendarTime calendar{};
  FileTimeToCalendar(day, &calendar);
  char date[32];
  std::snprintf(date, sizeof date, ".%04d-%02d-%02d", calendar.year, calendar.month, calendar.day);
  const WStringView ext = Extension(path);
  WString name(path.substr(0, path.size() - ext.size()));
  name += Ascii(date);
  name += ext;
  return name;
}

WString DatedPattern(WStringView fileName) {
  const WStringView ext = Extension(fileName);
  WString pattern(fileName.substr(0, fileName.size() - ext.size()));
  pattern += u".*-*-*";
  pattern += ext;
  return pattern;
}

bool IsDatedName(WStringView fileName, WStringView name) {
  const WStringView ext = Extension(fileName);
  const WStringView stem = fileName.substr(0, fileName.size() - ext.size());
  constexpr WStringView kShape = u".dddd-dd-dd";
  if (name.size() != stem.size() + kShape.size() + ext.size() || !name.starts_with(stem) ||
      !name.ends_with(ext)) {
    return false;
  }
  const WStringView date = name.substr(stem.size(), kShape.size());
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == u'd' ? !IsDigit(date[i]) : date[i] != kShape[i]) return false;
  }
  return true;
}

WString TemporaryName(const std::uint8_t (&bytes)[16]) {
  std::uint8_t id[16];
  std::copy(bytes, bytes + 16, id);
  id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x40);  // version 4
  id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // the standard variant
  static constexpr char kHex[] = "0123456789abcdef";
  WString name(u"zun-");
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) name += u'-';
    name += static_cast<char16_t>(kHex[id[i] >> 4]);
    name += static_cast<char16_t>(kHex[id[i] & 0xF]);
  }
  name += u".tmp";
  return name;
}

FileTime NextRollTime(FileTime now) {
  constexpr FileTime kMicrosecond = 10;
  constexpr FileTime kMillisecond = 10000;
  // The rest of the day, counted from the microsecond `now` falls in.
  const FileTime intoDay = now % kFileTimeDay;
  return now + (kFileTimeDay - intoDay / kMicrosecond * kMicrosecond) + kMillisecond;
}

std::size_t OrderAndCountExpired(std::vector<DatedFile>& files, std::uint32_t filesCount,
                                 std::uint32_t daysCount, FileTime now) {
  std::sort(files.begin(), files.end(), [](const DatedFile& a, const DatedFile& b) {
    return a.creationTime != b.creationTime ? a.creationTime < b.creationTime : a.name < b.name;
  });
  if (daysCount == 0) return files.size() > filesCount ? files.size() - filesCount : 0;
  const FileTime span = std::uint64_t{daysCount} * kFileTimeDay;
  if (now < span) return 0;
  const FileTime cutoff = now - span;
  return static_cast<std::size_t>(
      std::find_if(files.begin(), files.end(), [&](const DatedFile& f) { return f.creationTime > cutoff; }) -
      files.begin());
}

}  // namespace zun
