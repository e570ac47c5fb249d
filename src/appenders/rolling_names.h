#pragma once
// The names a rolling log takes (numbered backups, dated files, the lock
// file, temporary names) and the choices of a roll that depend only on names
// and times. Pure functions, safe on any thread; those that build text may
// throw std::bad_alloc.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/text.h"
#include "platform/clock.h"

namespace zun {

inline constexpr FileTime kFileTimeDay = 864000000000ull;

// The number in decimal digits: "-12", "1048576".
WString DecimalText(std::int64_t number);
// "D:\logs\common.log" -> "common.log".
WStringView FileNamePart(WStringView path);
// "common.log" -> "common.log.3".
WString BackupName(WStringView path, std::uint32_t number);
// "common.log" -> "common.log.lock".
WString LockFileName(WStringView path);
// The extension of the path's file name, its "." included: ".log"; empty
// for a name without one. A leading "." of a name starts no extension.
WStringView Extension(WStringView path);
// The name of the log for the UTC calendar day of `day`, with the date
// before the extension: "D:\logs\common.log" -> "D:\logs\common.2019-03-07.log".
WString DatedName(WStringView path, FileTime day);
// The listing pattern of the dated files of a log's file name:
// "common.log" -> "common.*-*-*.log".
WString DatedPattern(WStringView fileName);
// Whether `name` is a dated file of the log's file name `fileName`: the
// stem, ".", four digits, "-", two digits, "-", two digits and the
// extension, compared exactly. Stricter than DatedPattern, so a file that
// merely resembles a dated one ("common.a-b-c.log") is never taken for one.
bool IsDatedName(WStringView fileName, WStringView name);
// "zun-" + the bytes as a random (version 4) identifier in lower-case
// groups 8-4-4-4-12 + ".tmp".
WString TemporaryName(const std::uint8_t (&bytes)[16]);

// When the day of `now` ends for a day-rolled log: the start of the next
// UTC day plus one millisecond (and the part of `now` below a microsecond).
FileTime NextRollTime(FileTime now);
inline std::uint64_t DayNumber(FileTime time) { return time / kFileTimeDay; }

struct DatedFile {
  FileTime creationTime;
  WString name;
};
// Orders `files` oldest first (equal times by name) and tells how many of
// the oldest a roll deletes: with `daysCount`, those created no later than
// `now` minus that many days; else those beyond the newest `filesCount`
// (all of them for 0).
std::size_t OrderAndCountExpired(std::vector<DatedFile>& files, std::uint32_t filesCount,
                                 std::uint32_t daysCount, FileTime now);

}  // namespace zun
