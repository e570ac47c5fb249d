#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "appenders/appender_fixtures.h"
#include "appenders/file_appender.h"

namespace zun {
namespace {

using test::AppendWriters;

class AppendersStress : public test::TempDirTest {};

TEST_F(AppendersStress, EightThreadsAppendHundredThousandLinesToOneFile) {
  auto layout = test::MakeLayout(u"Format = %msg\n");
  std::vector<std::unique_ptr<FileAppender>> appenders;
  for (int i = 0; i < 4; ++i) {
    std::unique_ptr<FileAppender> appender;
    ASSERT_RC(RC_OK, FileAppender::Create(nullptr, u"f", ToUtf16(Dir().string()), &appender));
    ASSERT_RC(RC_OK, appender->LoadConfig(
                         *test::SectionFromText(u"[f]\nAppenderType = File\nFileName = stress.log\n")));
    appender->AttachLayout(layout.get());
    appenders.push_back(std::move(appender));
  }
  constexpr unsigned kThreads = 8;
  constexpr unsigned kLines = 12500;
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      LogRecord record = test::MakeRecord(kSeverityInfo, u"");
      start.arrive_and_wait();
      for (unsigned i = 0; i < kLines; ++i) {
        record.message = test::AppendLineText(t, i);
        EXPECT_RC(RC_OK, appenders[t % 4]->Append(record));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  appenders.clear();
  AppendWriters writers;
  for (unsigned t = 0; t < kThreads; ++t) writers[t] = kLines;
  test::ExpectEveryLineOnce(test::ReadLogLines(PathOf("stress.log")), writers);
}

TEST_F(AppendersStress, FourProcessesAppendHundredThousandLinesToOneFile) {
  AppendWriters writers;
  test::RunAppendHosts(PathOf("stress.log"), 4, 2, 12500, &writers);
  test::ExpectEveryLineOnce(test::ReadLogLines(PathOf("stress.log")), writers);
}

}  // namespace
}  // namespace zun
