// Cost of turning a log call into a record and the record into a line.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <memory>

#include "platform/names.h"
#include "records/log_record.h"

namespace {

const zun::SharedText kKeyLine = std::make_shared<const zun::WString>(u"key record line");

zun::ResultCode Build(zun::LogRecord* record, std::uint32_t flags, const zun::LogCall* call, ...) {
  va_list args;
  va_start(args, call);
  const zun::ResultCode rc = zun::BuildRecord(u"app.network.session", flags, kKeyLine, *call, &args, record);
  va_end(args);
  return rc;
}

zun::LogCall ShortCall() {
  zun::LogCall call;
  call.severity = 200000;
  call.message = u"request served from cache in %d ms, ok";  // 40 characters
  call.fileId = u"server/cache.cpp";
  call.line = 120;
  call.buildNumber = 7;
  return call;
}

// A printf-style message with one integer: the common log call.
void BM_BuildRecord(benchmark::State& state) {
  const zun::LogCall call = ShortCall();
  for (auto _ : state) {
    zun::LogRecord record;
    benchmark::DoNotOptimize(Build(&record, 0x10000, &call, 17));
    benchmark::DoNotOptimize(record.message.data());
  }
}
BENCHMARK(BM_BuildRecord);

// The standard line of a ready record, into a reused text.
void BM_FormatMessageLine(benchmark::State& state) {
  const zun::LogCall call = ShortCall();
  zun::LogRecord record;
  Build(&record, 0x10000, &call, 17);
  zun::WString line;
  for (auto _ : state) {
    line.clear();
    benchmark::DoNotOptimize(zun::FormatMessageLine(record, line));
    benchmark::DoNotOptimize(line.data());
  }
}
BENCHMARK(BM_FormatMessageLine);

void BM_BuildAndFormatLine(benchmark::State& state) {
  const zun::LogCall call = ShortCall();
  zun::WString line;
  for (auto _ : state) {
    zun::LogRecord record;
    Build(&record, 0x10000, &call, 17);
    line.clear();
    benchmark::DoNotOptimize(zun::FormatMessageLine(record, line));
  }
}
BENCHMARK(BM_BuildAndFormatLine);

// Typed mode: three tagged arguments rendered.
void BM_BuildRecordTyped(benchmark::State& state) {
  zun::LogCall call = ShortCall();
  call.message = nullptr;
  for (auto _ : state) {
    zun::LogRecord record;
    benchmark::DoNotOptimize(Build(&record, 0x10001, &call, ZUN_TAG_UINT32, 255u, ZUN_TAG_WIDE_TEXT, u"it's",
                                   ZUN_TAG_DOUBLE, 1.5, ZUN_TAG_END));
  }
}
BENCHMARK(BM_BuildRecordTyped);

// A message past the stack buffer takes the heap path.
void BM_BuildRecordLongMessage(benchmark::State& state) {
  const zun::WString text(static_cast<std::size_t>(state.range(0)), u'x');
  zun::LogCall call = ShortCall();
  call.message = u"payload %s";
  for (auto _ : state) {
    zun::LogRecord record;
    benchmark::DoNotOptimize(Build(&record, 0x10000, &call, text.c_str()));
  }
}
BENCHMARK(BM_BuildRecordLongMessage)->Arg(400)->Arg(2000)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
