// Cost of one synchronous log call, from the host's LogFull slot through the
// logger, the dispatcher, the standard layout and a file appender to the
// file, next to a bare write(2) of the same bytes to an O_APPEND file: the
// difference is what the library adds to the system call it cannot avoid.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "bench_support.h"
#include "config/config_document.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"

namespace zun {
namespace {

// One logger with one file appender in a fresh folder, removed at exit.
class Setup {
 public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }

  ZunLogger* Logger() { return logger_ != nullptr ? logger_->Interface() : nullptr; }
  const std::filesystem::path& Folder() const { return folder_.Path(); }

 private:
  Setup() {
    if (folder_.Path().empty()) return;

    ConfigSectionRef section;
    ConfigKeyRef type, file;
    if (Failed(FileAppender::Create(&dispatcher_, u"bench", ToUtf16(folder_.Path().string()), &appender_)) ||
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
  bench::Folder folder_;
  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::unique_ptr<FileAppender> appender_;
  zun::Logger* logger_ = nullptr;
};

void BM_LogFullToFile(benchmark::State& state) { bench::LogCalls(state, Setup::Get().Logger()); }
BENCHMARK(BM_LogFullToFile)->Threads(1)->Threads(2)->UseRealTime();

void BM_BareWriteOfTheSameLine(benchmark::State& state) {
  bench::BareWrites(state, bench::StandardLineBytes(u"Zun.Agent.Session"),
                    Setup::Get().Folder() / "bare.log");
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
