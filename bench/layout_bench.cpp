// Cost of turning one log call into a line: building the record and
// rendering it with the standard layout and with a custom layout, into a
// text reused from call to call as an appender does.
#include <benchmark/benchmark.h>

#include <cstdarg>

#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"
#include "bench_support.h"
#include "config/config_document.h"
#include "records/log_record.h"

namespace zun {
namespace {

ResultCode BuildFormatted(LogRecord* record, const char16_t* format, ...) {
  const LogCall call = bench::SessionCall(format);
  va_list args;
  va_start(args, format);
  const ResultCode rc = BuildRecord(u"Zun.Agent.Session", 0, nullptr, call, &args, record);
  va_end(args);
  return rc;
}

LayoutRef MakeLayout(WStringView type, WStringView format) {
  LayoutRef layout;
  ConfigSectionRef section;
  ConfigKeyRef typeKey, formatKey;
  if (Failed(CreateLayout(type, u"bench", &layout)) || Failed(ConfigSection::Create(u"bench", &section)) ||
      Failed(ConfigKey::Create(u"LayoutType", &typeKey)) || Failed(typeKey->SetPlainValue(type)) ||
      Failed(section->AddKey(typeKey)) || Failed(ConfigKey::Create(u"Format", &formatKey)) ||
      Failed(formatKey->SetPlainValue(format)) || Failed(section->AddKey(formatKey)) ||
      Failed(layout->LoadConfig(*section))) {
    return nullptr;
  }
  return layout;
}

void BuildAndRender(benchmark::State& state, const Layout& layout) {
  LogRecord record;
  WString line;
  for (auto _ : state) {
    if (Failed(BuildFormatted(&record, u"session %u of %s closed after %d ms", 17u, u"operator", 2500)) ||
        Failed(layout.Render(line, record))) {
      state.SkipWithError("build or render failed");
      break;
    }
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size() * 2));
}

void RenderOnly(benchmark::State& state, const Layout& layout) {
  LogRecord record;
  WString line;
  if (Failed(BuildFormatted(&record, u"session %u of %s closed after %d ms", 17u, u"operator", 2500))) {
    state.SkipWithError("build failed");
    return;
  }
  for (auto _ : state) {
    if (Failed(layout.Render(line, record))) {
      state.SkipWithError("render failed");
      break;
    }
    benchmark::DoNotOptimize(line.data());
  }
}

constexpr WStringView kCustomFormat =
    u"%date %time [%severity] %logger %hostname %pid/%tid %filename:%line (%buildnr.%svnrev.%product) %msg";

void BM_BuildAndRenderStandard(benchmark::State& state) {
  const LayoutRef layout = MakeLayout(u"Standard", u"");
  if (!layout) return state.SkipWithError("layout failed");
  BuildAndRender(state, *layout);
}
BENCHMARK(BM_BuildAndRenderStandard);

void BM_BuildAndRenderCustom(benchmark::State& state) {
  const LayoutRef layout = MakeLayout(u"Custom", kCustomFormat);
  if (!layout) return state.SkipWithError("layout failed");
  BuildAndRender(state, *layout);
}
BENCHMARK(BM_BuildAndRenderCustom);

void BM_RenderStandard(benchmark::State& state) {
  const LayoutRef layout = MakeLayout(u"Standard", u"");
  if (!layout) return state.SkipWithError("layout failed");
  RenderOnly(state, *layout);
}
BENCHMARK(BM_RenderStandard);

void BM_RenderCustom(benchmark::State& state) {
  const LayoutRef layout = MakeLayout(u"Custom", kCustomFormat);
  if (!layout) return state.SkipWithError("layout failed");
  RenderOnly(state, *layout);
}
BENCHMARK(BM_RenderCustom);

}  // namespace
}  // namespace zun

BENCHMARK_MAIN();
