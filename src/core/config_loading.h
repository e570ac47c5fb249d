#pragma once
// Where configuration comes from and in which order it reaches the log
// system: the built-in default, the private file "privlog.cfg", files and
// texts handed over by hosts, and reloads of the files loaded so far. Every
// source ends in ApplyDocument, so a later source changes the objects of an
// earlier one by name; only a reset removes anything.
#include "base/result_code.h"
#include "base/text.h"
#include "config/config_document.h"
#include "platform/clock.h"

namespace zun {

class LogSystem;

// A configuration file the log system has loaded; reloads read it again.
struct ConfigSource {
  WString givenName;  // as the caller passed it, relative or absolute
  WString fullPath;   // the path that was opened
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;  // compared by ReloadChangedConfiguration
  FileTime changeTime = 0;
  WString logFolder;  // handed to ApplyDocument again on reload
};
// Loaded files by given name (case-sensitive, UTF-16LE byte order).
using ConfigSources = ConfigTable<ConfigSource>;

// The configuration a log system starts with and returns to on reset: the
// root at INFO writing to "common.log" in the log folder, rolled at
// 1024000 bytes with 10 backups.
inline constexpr WStringView kDefaultConfiguration =
    u"[root]\n"
    u"AddAppenders = defaultFileAppender\n"
    u"Severity = Info\n"
    u"DisableDefaultAppenders = yes\n"
    u"\n"
    u"[defaultFileAppender]\n"
    u"Type = Appender\n"
    u"AppenderType = RollingFile\n"
    u"Size = 1024000\n"
    u"FilesCount = 10\n"
    u"FileName = common.log\n";

// Loaded from the log system's configuration folder before the first file
// any client loads.
inline constexpr WStringView kPrivateConfigurationFile = u"privlog.cfg";

// Names of temporary files left in a log folder by rolls that did not end.
inline constexpr WStringView kTemporaryFilePattern = u"zun-*.tmp";

// Every operation below takes the log system lock where it needs it; the
// caller may hold it already (it is recursive), and a host's client lock
// comes before it.

// Makes sure the layout "defaultLayout" exists (a standard layout, not
// configured from any section), then applies kDefaultConfiguration with
// the log system's log folder.
ResultCode ApplyDefaultConfiguration(LogSystem& system) noexcept;

// Loads a configuration file: a relative name is joined to `configFolder`.
// An open or read failure is returned and nothing is recorded. Otherwise
// the file enters the loaded-file set under its given name (replacing an
// earlier record of that name) before it is applied with `logFolder`, so it
// takes part in reloads whatever ApplyDocument returns; its folder is put
// under the change watch. Lines the reader rejects never fail a load.
ResultCode LoadSourceFile(LogSystem& system, WStringView fileName, WStringView configFolder,
                          WStringView logFolder) noexcept;

// The first call per log system loads "privlog.cfg" with the log system's
// own folders; every call marks it tried. Its result is not reported.
void LoadPrivateConfiguration(LogSystem& system) noexcept;

// Reads the text (lines end at a line feed; a carriage return before it is
// dropped) and applies it with `logFolder`. Nothing is recorded.
ResultCode ApplySourceText(LogSystem& system, WStringView text, WStringView logFolder) noexcept;

// Reads every loaded file again, in given-name order, and applies it with
// the log folder it was loaded with. Files that cannot be read or applied
// are skipped. The lock is held only while the set is copied, so hosts may
// load files meanwhile. Returns 0, or the failure to copy the set.
ResultCode ReloadConfiguration(LogSystem& system) noexcept;

// The change watcher's callback: under the lock, every loaded file whose
// last-write time differs from the recorded one gets the new time recorded
// and is read and applied again. Failures are ignored; a file that failed
// is tried again only after its time changes once more.
void ReloadChangedConfiguration(LogSystem& system) noexcept;

// Fills `document` with the current configuration: one section per layout,
// then per appender (each table in name order), then per logger of the
// tree. Two objects of one name fail with RC_TABLE_ERROR_37.
ResultCode ExportCurrentConfiguration(LogSystem& system, ConfigDocument& document) noexcept;

// Deletes every file directly in `folder` whose name matches
// kTemporaryFilePattern; failures are ignored.
void DeleteTemporaryFiles(WStringView folder) noexcept;

}  // namespace zun
