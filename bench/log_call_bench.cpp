// Cost of one synchronous log call, from the host's LogFull slot through the
// logger, the dispatcher, the standard layout and a file appender to the
// file, next to a bare write(2) of the same bytes to an O_APPEND file: the
// difference is what the library adds to the system call it cannot avoid.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"
#include "records/log_record.h"

namespace zun {
namespace {

constexpr const char16_t* kFormat = u"session %u of %s closed after %d ms";

ZunResult LogFormat(ZunLogger* logger, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ZunResult rc = logger->vtbl->LogFull(logger, ZUN_SEVERITY_WARN, format, u"server/session.cpp", 418,
                                             7021, 55102, 3, 0, &args);
  va_end(args);
  return rc;
}

// One logger with one file appender in a fresh folder, removed at exit.
class Setup {
 public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }

  ZunLogger* Logger() { return logger_ != nullptr ? logger_->Interface() : nullptr; }
  const std::filesystem::path& Folder() const { return folder_; }

  // The bytes the appender writes for one call of the benchmark: the
  // standard line in UTF-8 with CR LF.
  std::string SameLineBytes() {
    LogCall call;
    call.severity = ZUN_SEVERITY_WARN;
    call.message = u"session 17 of operator closed after 2500 ms";
    call.fileId = u"server/session.cpp";
    call.line = 418;
    call.buildNumber = 7021;
    call.revision = 55102;
    call.product = 3;
    LogRecord record;
    WString line;
    std::string bytes;
    if (Failed(BuildRecord(u"Zun.Agent.Session", kLoggerFlagBase | 58, nullptr, call,
                           static_cast<va_list*>(nullptr), &record)) ||
        Failed(FormatMessageLine(record, line)) || Failed(AppendUtf8FromUtf16(line, bytes))) {
      return {};
    }
    return bytes + "\r\n";
  }

 private:
  Setup() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/zunlogx-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;

    ConfigSectionRef section;
    ConfigKeyRef type, file;
    if (Failed(FileAppender::Create(&dispatcher_, u"bench", ToUtf16(folder_.string()), &appender_)) ||
        Failed(ConfigSection::Create(u"bench", &section)) ||
        Failed(ConfigKey::Create(u"AppenderType", &type)) || Failed(type->SetPlainValue(u"File")) ||
        Failed(section->AddKey(type)) || Failed(ConfigKey::Create(u"FileName", &file)) ||
        Failed(file->SetPlainValue(u"library.log")) || Failed(section->AddKey(file)) ||
        Failed(appender_->LoadConfig(*section))) {
      return;
    }
    appender_->AttachLayout(&layout_);
    zun::Logger* logger = nullptr;
    if (Failed(tree_.GetOrCreate(&logger, 58, u"Zun.Agent.Session")) ||
        Failed(LoggerTree::AddAppender(logger, appender_.get()))) {
      return;
    }
    logger_ = logger;
  }
  ~Setup() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::unique_ptr<FileAppender> appender_;
  zun::Logger* logger_ = nullptr;
};

void BM_LogFullToFile(benchmark::State& state) {
  ZunLogger* logger = Setup::Get().Logger();
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
BENCHMARK(BM_LogFullToFile)->Threads(1)->Threads(2)->UseRealTime();

void BM_BareWriteOfTheSameLine(benchmark::State& state) {
  const std::string bytes = Setup::Get().SameLineBytes();
  const std::string path = (Setup::Get().Folder() / "bare.log").string();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
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
BENCHMARK(BM_BareWriteOfTheSameLine)->Threads(1)->Threads(2)->UseRealTime();

// What a host pays to ask before it logs.
void BM_IsEnabled(benchmark::State& state) {
  ZunLogger* logger = Setup::Get().Logger();
  if (logger == nullptr) {
    state.SkipWithError("setting up the logger failed");
    return;
  }
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  for (auto _ : state) benchmark::DoNotOptimize(dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_DEBUG));
}
BENCHMARK(BM_IsEnabled);

}  // namespace
}  // namespace zun

BENCHMARK_MAIN();
