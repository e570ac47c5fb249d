// Many threads logging through two loggers into one file: every line must
// arrive whole, exactly once, in each thread's own order.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"
#include "support/test_support.h"

namespace zun {
namespace {

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 2500;

// Every 97th line is long enough to leave the 512-character first buffer.
std::size_t PaddingOf(int n) { return n % 97 == 0 ? 3000 + static_cast<std::size_t>(n % 7) : n % 41; }

ZunResult LogFormat(ZunLogger* logger, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ZunResult rc =
      logger->vtbl->LogFull(logger, ZUN_SEVERITY_INFO, format, u"conc.cpp", 1, 0, 0, 0, 0, &args);
  va_end(args);
  return rc;
}

class LoggerConcurrencyTest : public test::TempDirTest {
 protected:
  std::unique_ptr<FileAppender> MakeAppender(const std::u16string& name) {
    std::unique_ptr<FileAppender> appender;
    EXPECT_RC(RC_OK, FileAppender::Create(&dispatcher_, name, ToUtf16(Dir().string()), &appender));
    ConfigSectionRef section;
    EXPECT_RC(RC_OK, ConfigSection::Create(name, &section));
    for (auto [key, value] : {std::pair{u"AppenderType", u"File"}, std::pair{u"FileName", u"shared.log"}}) {
      ConfigKeyRef entry;
      EXPECT_RC(RC_OK, ConfigKey::Create(key, &entry));
      EXPECT_RC(RC_OK, entry->SetPlainValue(value));
      EXPECT_RC(RC_OK, section->AddKey(entry));
    }
    EXPECT_RC(RC_OK, appender->LoadConfig(*section));
    appender->AttachLayout(&layout_);
    return appender;
  }

  // Runs the threads (even ones on "alpha", odd ones on "beta") and checks
  // the file line by line.
  void LogFromAllThreadsAndCheck(Logger* alpha, Logger* beta) {
    std::barrier start(kThreads);
    std::vector<ResultCode> failures(kThreads, RC_OK);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ZunLogger* logger = (t % 2 == 0 ? alpha : beta)->Interface();
        start.arrive_and_wait();
        for (int n = 0; n < kLinesPerThread; ++n) {
          const std::u16string padding(PaddingOf(n), u'x');
          const ResultCode rc = LogFormat(logger, u"t=%d n=%d pad=%s", t, n, padding.c_str());
          if (Failed(rc) && failures[t] == RC_OK) failures[t] = rc;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_RC(RC_OK, failures[t]) << "thread " << t;

    const std::string bytes = test::ReadFileBytes(PathOf("shared.log"));
    ASSERT_EQ(0u, bytes.find("\xEF\xBB\xBF")) << bytes.size() << " bytes, starting " << bytes.substr(0, 120);
    EXPECT_EQ(std::string::npos, bytes.find("\xEF\xBB\xBF", 3)) << "one mark, at the start";

    std::vector<int> nextOf(kThreads, 0);
    std::size_t lines = 0;
    std::size_t from = 3;
    while (from < bytes.size()) {
      const std::size_t end = bytes.find("\r\n", from);
      ASSERT_NE(std::string::npos, end) << "unterminated tail at byte " << from;
      const std::string line = bytes.substr(from, end - from);
      from = end + 2;
      ++lines;

      const std::size_t msg = line.find(" MSG:t=");
      ASSERT_NE(std::string::npos, msg) << line.substr(0, 200);
      int t = -1;
      int n = -1;
      int consumed = 0;
      ASSERT_EQ(2, std::sscanf(line.c_str() + msg, " MSG:t=%d n=%d pad=%n", &t, &n, &consumed))
          << line.substr(0, 200);
      ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 200);
      EXPECT_EQ(t % 2 == 0 ? "[alpha] INFO " : "[beta] INFO ", line.substr(0, t % 2 == 0 ? 13 : 12));
      EXPECT_NE(std::string::npos, line.find(" ID:conc.cpp:1.0.0.0 MSG:"));
      EXPECT_EQ(std::string(PaddingOf(n), 'x'), line.substr(msg + static_cast<std::size_t>(consumed)))
          << "line of thread " << t << " number " << n << " is cut or mixed";
      ASSERT_EQ(nextOf[t], n) << "thread " << t << ": a line is missing, repeated or out of order";
      ++nextOf[t];
    }
    EXPECT_EQ(static_cast<std::size_t>(kThreads) * kLinesPerThread, lines);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kLinesPerThread, nextOf[t]) << "thread " << t;
  }

  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
};

TEST_F(LoggerConcurrencyTest, TwoLoggersShareOneFileAppender) {
  std::unique_ptr<FileAppender> shared = MakeAppender(u"shared");
  Logger* alpha = nullptr;
  Logger* beta = nullptr;
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&alpha, 58, u"alpha"));
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&beta, 58, u"beta"));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(alpha, shared.get()));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(beta, shared.get()));
  LogFromAllThreadsAndCheck(alpha, beta);
}

TEST_F(LoggerConcurrencyTest, TwoFileAppendersOpenTheSameFileForTwoLoggers) {
  std::unique_ptr<FileAppender> first = MakeAppender(u"first");
  std::unique_ptr<FileAppender> second = MakeAppender(u"second");
  Logger* alpha = nullptr;
  Logger* beta = nullptr;
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&alpha, 58, u"alpha"));
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&beta, 58, u"beta"));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(alpha, first.get()));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(beta, second.get()));
  LogFromAllThreadsAndCheck(alpha, beta);
}

TEST_F(LoggerConcurrencyTest, AdditiveLoggersReachTheRootsAppenderFromEveryThread) {
  std::unique_ptr<FileAppender> atRoot = MakeAppender(u"atRoot");
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(&tree_.Root(), atRoot.get()));
  Logger* alpha = nullptr;
  Logger* beta = nullptr;
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&alpha, 58, u"alpha"));
  ASSERT_RC(RC_OK, tree_.GetOrCreate(&beta, 58, u"beta"));
  LogFromAllThreadsAndCheck(alpha, beta);
}

}  // namespace
}  // namespace zun
