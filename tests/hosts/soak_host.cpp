// One process of the soak: threads log numbered lines through the log
// system, configured by a configuration file that the test rewrites while
// they run.
//
//   soak_host <configuration file> <process> <threads> <seconds> <start fd> [async]
//
// Thread t logs the lines of writer 100 * <process> + t (AppendLineText)
// through the logger "soak", one every few milliseconds, from the moment
// <start fd> reaches its end (the test closes the other end once every
// process runs) for <seconds>. With "async" the asynchronous worker writes
// them and watches the configuration file; without it the process reloads
// its loaded files itself every two seconds. Meanwhile the main thread
// counts the changes of the logger "toggle"'s threshold that it sees (the
// test flips it with every rewrite). At the end, after a flush, it prints
// "writer <id> <calls>" for each thread, "failed <id> <index> <code>" for
// each call that did not succeed, "reloads <n>" and "flush <its code>".
// Exit status 0 when the set-up worked.
//
// ZUNLOGX_TEST_CLOCK sets the library's clock (test_clock.h).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "append_lines.h"
#include "base/text.h"
#include "test_clock.h"
#include "zunlogx/zunlogx.h"

using namespace zun;

// A pace that keeps the volume of a ten-minute run in the hundreds of
// megabytes while every thread still meets the others in the appenders.
constexpr auto kPause = std::chrono::milliseconds(10);
constexpr std::int32_t kSeverity = ZUN_SEVERITY_WARN;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: soak_host <configuration> <process> <threads> <seconds> <start fd> [async]\n");
    return 2;
  }
  const std::u16string config = ToUtf16(argv[1]);
  const unsigned process = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  const unsigned threadCount = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  const auto duration = std::chrono::seconds(std::strtoul(argv[4], nullptr, 10));
  const int startFd = std::atoi(argv[5]);
  const bool async = argc > 6 && std::strcmp(argv[6], "async") == 0;
  test::TakeTestClock();

  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  ZunLogger* logger = nullptr;
  ZunLogger* toggle = nullptr;
  ZunResult rc = ZunGetLogObject(&id, &log);
  if (Succeeded(rc)) rc = log->vtbl->LoadConfigurationFile(log, config.c_str());
  if (Succeeded(rc)) rc = log->vtbl->GetLogger(log, &logger, u"soak");
  if (Succeeded(rc)) rc = log->vtbl->GetLogger(log, &toggle, u"toggle");
  if (Succeeded(rc) && async) rc = log->vtbl->StartAsyncWorker(log);
  if (Failed(rc)) {
    std::fprintf(stderr, "soak_host: set-up failed: 0x%08X\n", rc);
    return 3;
  }
  char byte = 0;
  while (read(startFd, &byte, 1) > 0) {
  }

  const auto end = std::chrono::steady_clock::now() + duration;
  std::vector<unsigned> calls(threadCount, 0);
  std::vector<std::vector<std::pair<unsigned, ZunResult>>> failures(threadCount);  // index, code
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      const unsigned writer = 100 * process + t;
      for (unsigned i = 0; std::chrono::steady_clock::now() < end; ++i) {
        const std::u16string text = test::AppendLineText(writer, i);
        const ZunResult result =
            logger->vtbl->LogFull(logger, kSeverity, text.c_str(), nullptr, 0, 0, 0, 0, 0, nullptr);
        if (Failed(result)) failures[t].push_back({i, result});
        calls[t] = i + 1;
        std::this_thread::sleep_for(kPause);
      }
    });
  }
  // Between the thresholds the test writes for "toggle": Info and Error.
  unsigned reloads = 0;
  bool enabled = ZunIsEnabled(toggle, kSeverity) != 0;
  for (unsigned tick = 0; std::chrono::steady_clock::now() < end; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!async && tick % 40 == 39) ZunLogLibraryReloadConfig();
    const bool now = ZunIsEnabled(toggle, kSeverity) != 0;
    reloads += now != enabled ? 1 : 0;
    enabled = now;
  }
  for (std::thread& thread : threads) thread.join();
  rc = log->vtbl->Flush(log);
  if (async) log->vtbl->StopAsyncWorker(log);
  for (unsigned t = 0; t < threadCount; ++t) {
    std::printf("writer %u %u\n", 100 * process + t, calls[t]);
    for (const auto& [index, code] : failures[t])
      std::printf("failed %u %u 0x%08X\n", 100 * process + t, index, code);
  }
  std::printf("reloads %u\n", reloads);
  std::printf("flush 0x%08X\n", rc);
  ZunReleaseLogObject(&id, log);
  return 0;
}
