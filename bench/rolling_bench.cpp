// Cost of one synchronous log call into a size-rolled log and a day-rolled
// log, next to a plain log file and a bare write(2) of the same bytes to an
// O_APPEND file. BM_LogFull* go from the host's LogFull slot through the
// logger, the standard layout and the appender to the file; BM_Append* hand
// the appender a record whose message is the finished line ("%msg"), so
// what they add to the bare write is the appender's own work. The rolled
// logs roll as they fill (1 MB, 10 backups): the cost of rolling is spread
// over the calls as it is in use.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "appenders/appender_factory.h"
#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"
#include "bench_support.h"
#include "config/config_document.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"

namespace zun {
namespace {

// Every logger's name has this length, so all files get lines of one length.
constexpr const char16_t* kPlainLogger = u"Zun.Bench.Plain";

// One logger per kind of appender, each with its own file in a fresh folder,
// removed at exit.
class Setup {
 public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }

  // "File", "RollingFile" or "RollingDateFile"; null when setting up failed.
  ZunLogger* Logger(WStringView type) {
    const Entry* entry = Find(type);
    return entry != nullptr && entry->logger != nullptr ? entry->logger->Interface() : nullptr;
  }
  // An appender of that type with the layout "%msg", writing its own file.
  Appender* LineAppender(WStringView type) {
    const Entry* entry = Find(type);
    return entry != nullptr ? entry->lineAppender.get() : nullptr;
  }
  const std::filesystem::path& Folder() const { return folder_.Path(); }

 private:
  struct Entry {
    WString type;
    AppenderRef appender, lineAppender;
    zun::Logger* logger = nullptr;
  };

  const Entry* Find(WStringView type) const {
    for (const Entry& entry : entries_) {
      if (entry.type == type) return &entry;
    }
    return nullptr;
  }

  AppenderRef MakeAppender(WStringView type, WStringView name, const Layout& layout) {
    AppenderRef appender;
    ConfigSectionRef section;
    if (Failed(CreateAppender(type, &dispatcher_, name, ToUtf16(folder_.Path().string()), &appender)) ||
        Failed(ConfigSection::Create(name, &section)) || Failed(section->SetValue(u"AppenderType", type)) ||
        Failed(section->SetValue(u"FileName", WString(name) + u".log")) ||
        Failed(appender->LoadConfig(*section))) {
      return nullptr;
    }
    appender->AttachLayout(&layout);
    return appender;
  }

  Setup() {
    if (folder_.Path().empty()) return;
    // Names of one length, so every file gets lines of the same length.
    const std::pair<const char16_t*, const char16_t*> kKinds[] = {{u"File", u"Zun.Bench.Plain"},
                                                                  {u"RollingFile", u"Zun.Bench.Sized"},
                                                                  {u"RollingDateFile", u"Zun.Bench.Dated"}};
    for (const auto& [type, name] : kKinds) {
      Entry& entry = entries_.emplace_back();
      entry.type = type;
      entry.appender = MakeAppender(type, name, layout_);
      entry.lineAppender = MakeAppender(type, WString(name) + u".Line", lineLayout_);
      zun::Logger* logger = nullptr;
      if (entry.appender != nullptr && Succeeded(tree_.GetOrCreate(&logger, 58, name)) &&
          Succeeded(LoggerTree::AddAppender(logger, entry.appender.get()))) {
        entry.logger = logger;
      }
    }
    ConfigSectionRef section;
    if (Failed(ConfigSection::Create(u"line", &section)) ||
        Failed(section->SetValue(u"LayoutType", u"Custom")) ||
        Failed(section->SetValue(u"Format", u"%msg")) || Failed(lineLayout_.LoadConfig(*section))) {
      entries_.clear();
    }
  }
  bench::Folder folder_;
  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  CustomLayout lineLayout_{std::u16string(u"line")};
  LoggerTree tree_{&dispatcher_};
  std::vector<Entry> entries_;  // destroyed before the tree
};

void BM_LogFullToFile(benchmark::State& state) { bench::LogCalls(state, Setup::Get().Logger(u"File")); }
void BM_LogFullToSizeRolledLog(benchmark::State& state) {
  bench::LogCalls(state, Setup::Get().Logger(u"RollingFile"));
}
void BM_LogFullToDayRolledLog(benchmark::State& state) {
  bench::LogCalls(state, Setup::Get().Logger(u"RollingDateFile"));
}
BENCHMARK(BM_LogFullToFile)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LogFullToSizeRolledLog)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LogFullToDayRolledLog)->Threads(1)->Threads(2)->UseRealTime();

void AppendLines(benchmark::State& state, WStringView type) {
  Appender* appender = Setup::Get().LineAppender(type);
  const std::string bytes = bench::StandardLineBytes(kPlainLogger);
  if (appender == nullptr || bytes.size() < 2) {
    state.SkipWithError("setting up the appender failed");
    return;
  }
  LogRecord record;
  record.severity = ZUN_SEVERITY_WARN;
  record.message = ToUtf16(std::string_view(bytes).substr(0, bytes.size() - 2));
  for (auto _ : state) {
    if (Failed(appender->Append(record))) {
      state.SkipWithError("append failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_AppendToFile(benchmark::State& state) { AppendLines(state, u"File"); }
void BM_AppendToSizeRolledLog(benchmark::State& state) { AppendLines(state, u"RollingFile"); }
void BM_AppendToDayRolledLog(benchmark::State& state) { AppendLines(state, u"RollingDateFile"); }
BENCHMARK(BM_AppendToFile)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_AppendToSizeRolledLog)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_AppendToDayRolledLog)->Threads(1)->Threads(2)->UseRealTime();

void BM_BareWriteOfTheSameLine(benchmark::State& state) {
  bench::BareWrites(state, bench::StandardLineBytes(kPlainLogger), Setup::Get().Folder() / "bare.log");
}
BENCHMARK(BM_BareWriteOfTheSameLine)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace zun

BENCHMARK_MAIN();
