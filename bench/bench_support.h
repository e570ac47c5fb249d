#pragma once
// What the benchmark programs share: the log call they measure, a fresh
// folder for their files, the bytes that call writes, and the bare write(2)
// of those bytes that every log call is compared with.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/logger.h"
#include "records/log_record.h"
#include "zunlogx/zunlogx.h"

namespace zun::bench {

inline constexpr const char16_t* kFormat = u"session %u of %s closed after %d ms";

// LogFull at WARN from "server/session.cpp" line 418, build 7021, revision
// 55102, product 3.
inline ZunResult LogFormat(ZunLogger* logger, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ZunResult rc = logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, format, u"server/session.cpp", 418,
                                             7021, 55102, 3, 0, &args);
  va_end(args);
  return rc;
}

// LogFormat(kFormat, 17, "operator", 2500) through `logger` per iteration.
inline void LogCalls(benchmark::State& state, ZunLogger* logger) {
  if (logger == nullptr) {
    state.SkipWithError("setting up the logger failed");
    return;
  }
  for (auto _ : state) {
    if (Failed(LogFormat(logger, kFormat, 17u, u"operator", 2500))) {
      state.SkipWithError("log call failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// A new folder under $TMPDIR (or /tmp), removed with its files at the end;
// Path() is empty when it could not be made.
class Folder {
 public:
  Folder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/zunlogx-bench-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The values of the call LogFormat makes, with `message` as its text.
inline LogCall SessionCall(const char16_t* message) {
  LogCall call;
  call.severity = ZUN_SEVERITY_WARN;
  call.message = message;
  call.fileId = u"server/session.cpp";
  call.line = 418;
  call.buildNumber = 7021;
  call.revision = 55102;
  call.product = 3;
  return call;
}

// The bytes a file appender with the standard layout writes for LogFormat
// (kFormat, 17, "operator", 2500) through the logger `loggerName`: the
// message line in UTF-8 with CR LF. Empty when it cannot be built.
inline std::string StandardLineBytes(WStringView loggerName) {
  const LogCall call = SessionCall(u"session 17 of operator closed after 2500 ms");
  LogRecord record;
  WString line;
  std::string bytes;
  if (Failed(BuildRecord(loggerName, kLoggerFlagBase | 58, nullptr, call, static_cast<va_list*>(nullptr),
                         &record)) ||
      Failed(FormatMessageLine(record, line)) || Failed(AppendUtf8FromUtf16(line, bytes))) {
    return {};
  }
  return bytes + "\r\n";
}

// One write(2) of `bytes` per iteration to `file`, opened O_APPEND.
inline void BareWrites(benchmark::State& state, const std::string& bytes, const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (bytes.empty() || fd < 0) {
    state.SkipWithError("preparing the bare write failed");
    if (fd >= 0) close(fd);
    return;
  }
  for (auto _ : state) {
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      state.SkipWithError("write failed");
      break;
    }
  }
  close(fd);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

}  // namespace zun::bench
