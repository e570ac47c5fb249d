// The log system's asynchronous handler through real loggers, file and
// console appenders, worker threads, folders and processes.
#include "core/async_handler.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <thread>

#include "appenders/appender_fixtures.h"
#include "core/log_system.h"
#include "hosts/append_lines.h"
#include "platform/clock.h"
#include "platform/file_calls.h"
#include "platform/process_info.h"
#include "platform/thread.h"

namespace zun {
namespace {

using test::AppendLineText;
using Lines = std::vector<std::string>;

ZunResult Log(Logger* logger, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ZunResult rc = logger->Interface()->vtbl->LogFull(logger->Interface(), ZUN_SEVERITY_WARN, format,
                                                          u"async.cpp", 7, 1, 2, 3, 0, &args);
  va_end(args);
  return rc;
}

// The message of each line, after " MSG:".
Lines Messages(const Lines& lines) {
  Lines messages;
  for (const std::string& line : lines) messages.push_back(line.substr(line.find(" MSG:") + 5));
  return messages;
}

// Polls `done` until it holds or ten seconds passed; for what another thread
// or the file system does in its own time.
template <typename Done>
bool Eventually(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  return done();
}

// A started log system whose loggers write into files of the test folder.
class AsyncTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_RC(RC_OK, system_.Start(u"", ToUtf16(Dir().string())));
  }
  Logger* WithFile(WStringView name, const std::string& file) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, system_.Tree().GetOrCreate(&logger, 58, name));
    appenders_.push_back(
        test::MakeFileAppender(&system_.RecordDispatcher(), Dir(), u"FileName = " + ToUtf16(file) + u"\n"));
    appenders_.back()->AttachLayout(&layout_);
    EXPECT_RC(RC_OK, LoggerTree::AddAppender(logger, appenders_.back().get()));
    return logger;
  }
  Lines FileMessages(const std::string& file) {
    return std::filesystem::exists(PathOf(file)) ? Messages(test::ReadLogLines(PathOf(file))) : Lines();
  }
  // Every line of `writers` once and, unless `anyOrder`, each writer's lines
  // in the order written.
  void ExpectEveryLineOnce(const std::string& file, const test::AppendWriters& writers,
                           bool anyOrder = false) {
    const Lines messages = FileMessages(file);
    test::ExpectEveryLineOnce(messages, writers);
    std::map<unsigned, unsigned> next;
    for (const std::string& message : messages) {
      unsigned writer = 0, index = 0;
      if (anyOrder || std::sscanf(message.c_str(), "w%u n%u", &writer, &index) != 2) continue;
      EXPECT_EQ(next[writer], index) << "writer " << writer;
      next[writer] = index + 1;
    }
  }

  StandardLayout layout_{std::u16string(u"standard")};
  std::vector<std::unique_ptr<FileAppender>> appenders_;  // outlive the system's last drain
  LogSystem system_;
};

// Four threads log at once: without the worker, with it, and with other
// threads starting and stopping it, changing the bound and flushing all the
// while (written to run under ThreadSanitizer: the locks are taken in one
// order). No record is lost or written twice; without a stop in between, a
// thread's records keep their order.
TEST_F(AsyncTest, EveryThreadsRecordsReachTheFileOnceWithOrWithoutTheWorker) {
  constexpr unsigned kThreads = 4, kLines = 1500;
  enum Mode { kDirect, kWorker, kStartStopAndFlush };
  for (const Mode mode : {kDirect, kWorker, kStartStopAndFlush}) {
    const std::string file = "mode" + std::to_string(mode) + ".log";
    Logger* logger = WithFile(ToUtf16(file.substr(0, 5)), file);
    ASSERT_RC(RC_OK, mode == kWorker ? system_.StartAsyncWorker() : RC_OK);
    std::atomic<unsigned> writing{kThreads};
    test::RunThreads(kThreads + (mode == kStartStopAndFlush ? 2 : 0), [&](unsigned t) {
      for (unsigned n = 0; t < kThreads && n < kLines; ++n)
        EXPECT_RC(RC_OK, Log(logger, u"%s", AppendLineText(t, n).c_str()));
      if (t < kThreads) --writing;
      while (t == kThreads && writing != 0) {
        EXPECT_RC(RC_OK, system_.StartAsyncWorker());
        system_.Handler().SetMaxQueueSize(0);
        system_.StopAsyncWorker();
      }
      while (t > kThreads && writing != 0) EXPECT_RC(RC_OK, system_.Flush());
    });
    test::AppendWriters writers;
    for (unsigned t = 0; t < kThreads; ++t) writers[t] = kLines;
    if (mode == kDirect) {
      // Without the worker a record is in the file when its call returns.
      ASSERT_RC(RC_OK, Log(logger, u"%s", AppendLineText(kThreads, 0).c_str()));
      EXPECT_EQ(ToUtf8(AppendLineText(kThreads, 0)), FileMessages(file).back());
      writers[kThreads] = 1;
    }
    system_.StopAsyncWorker();
    EXPECT_FALSE(system_.Handler().IsRunning());
    ExpectEveryLineOnce(file, writers, mode == kStartStopAndFlush);
  }
}

// No thread can be started: the run flag stays set, records wait in the
// queue, and a flush or the stop writes them. A record lost by a logger's
// appender does not go on to the parent, queued or not.
TEST_F(AsyncTest, QueuedRecordsWaitForFlushOrStopWhenNoWorkerStarts) {
  Logger* logger = WithFile(u"parent.child", "child.log");
  WithFile(u"parent", "parent.log");
  WithFile(u"parent.child", "blocked.log");
  std::filesystem::create_directory(PathOf("blocked.log"));
  {
    test::FileCallsOverride override;
    override.calls.threadCreate = [](pthread_t*, void* (*)(void*), void*) { return ENOMEM; };
    override.Install();
    EXPECT_RC(RC_OUT_OF_MEMORY, system_.StartAsyncWorker());
  }
  ASSERT_TRUE(system_.Handler().IsRunning());

  for (const char16_t* message : {u"one", u"two"}) ASSERT_RC(RC_OK, Log(logger, message));
  EXPECT_EQ(2u, system_.Handler().QueuedCount());
  EXPECT_EQ(Lines(), FileMessages("child.log"));
  ASSERT_RC(RC_OK, system_.Flush());
  EXPECT_EQ((Lines{"one", "two"}), FileMessages("child.log"));
  std::filesystem::remove(PathOf("blocked.log"));
  ASSERT_RC(RC_OK, Log(logger, u"three"));
  system_.StopAsyncWorker();
  EXPECT_EQ((Lines{"one", "two", "three"}), FileMessages("child.log"));
  ASSERT_RC(RC_OK, Log(logger, u"four"));
  EXPECT_EQ((Lines{"three", "four"}), FileMessages("parent.log")) << "written at once after the stop";
}

std::atomic<bool> gWritesHeld{false};
ssize_t HeldWrite(int fd, const void* buffer, size_t length) {
  while (gWritesHeld) std::this_thread::yield();
  return RealFileCalls().write(fd, buffer, length);
}

// The worker takes the first record and waits inside its write, so the next
// six meet a queue of at most five records: the oldest two thirds are kept,
// and the warning goes through the handler's own logger when it takes WARN.
TEST_F(AsyncTest, OverflowKeepsTheOldestTwoThirdsAndQueuesOneWarningThroughItsLogger) {
  const struct {
    std::uint32_t handlerFlags;  // ORed into "ASYNCHANDLER"
    Severity handlerThreshold;
    const char* warningId;  // null: no warning
  } cases[] = {
      {0, kSeverityInfo, "{610B64A8-D676-4CD6-866D-5BE2C66FE3D2}:223.8097.8038423.8"},
      {0x10, kSeverityWarn, "{610B64A8-D676-4CD6-866D-5BE2C66FE3D2}:223.8097.BADF00D.8"},
      {0, kSeverityError, nullptr},
  };
  test::FileCallsOverride override;
  override.calls.write = HeldWrite;
  override.Install();
  for (const auto& c : cases) {
    const std::string file = "overflow" + std::to_string(c.handlerThreshold) + ".log";
    LoggerTree::ClearAppenders(&system_.Tree().Root());
    Logger* root = WithFile(u"root", file);
    Logger* handlerLogger = nullptr;
    ASSERT_RC(RC_OK, system_.Tree().GetOrCreate(&handlerLogger, c.handlerFlags, u"ASYNCHANDLER"));
    LoggerTree::SetThreshold(handlerLogger, c.handlerThreshold);
    system_.Handler().SetMaxQueueSize(100);
    ASSERT_RC(RC_OK, system_.StartAsyncWorker());
    gWritesHeld = true;  // until released below: no ASSERT may leave the worker waiting
    EXPECT_RC(RC_OK, Log(root, u"r0"));
    EXPECT_TRUE(Eventually([&] { return system_.Handler().QueuedCount() == 0; }));
    for (const char16_t* message : {u"r1", u"r2", u"r3", u"r4", u"r5", u"r6"})
      EXPECT_RC(RC_OK, Log(root, message));
    Lines expected = {"r0", "r1", "r2", "r3", "*", "r6"};
    if (c.warningId == nullptr) expected.erase(expected.begin() + 4);
    EXPECT_EQ(expected.size() - 1, system_.Handler().QueuedCount());
    gWritesHeld = false;
    system_.StopAsyncWorker();
    const Lines lines = test::ReadLogLines(PathOf(file));
    EXPECT_EQ(expected, Messages(lines)) << c.handlerThreshold;
    const std::string warning = lines.size() > 4 ? lines[4] : "";
    EXPECT_TRUE(c.warningId == nullptr || (warning.starts_with("[ASYNCHANDLER] WARN ") &&
                                           warning.ends_with(std::string(" ID:") + c.warningId + " MSG:*")))
        << warning;
  }
}

void CountCall(void* calls) { ++*static_cast<std::atomic<int>*>(calls); }

std::uint64_t gTicks = 0;
FileTime FixedTime() { return kFileTimeUnixEpoch; }
std::uint64_t Ticks() { return gTicks; }

// Without the worker the logging threads call the change callback, at most
// once a second by the tick count; with it, an edit in a watched folder
// does, also in a folder added while it runs, and the logging threads leave
// it alone.
class ChangeWatchTest : public test::TempDirTest {};

TEST_F(ChangeWatchTest, ChangesCallTheCallbackFromLogCallsOrFromTheWorker) {
  std::atomic<int> calls{0};
  AsyncHandler handler;
  ASSERT_RC(RC_OK, handler.Create(CountCall, &calls, nullptr));
  Dispatcher dispatcher(&handler);
  LoggerTree tree(&dispatcher);
  const ClockSource clock{FixedTime, Ticks};
  SetClockSource(&clock);
  for (const auto& [ticks, calledSoFar] : {std::pair{5000, 1}, {5999, 1}, {6001, 2}, {9000, 3}}) {
    if (ticks == 9000) {  // from here on the worker watches
      for (const char* folder : {"a", "b"}) std::filesystem::create_directory(PathOf(folder));
      for (const char* folder : {"a", "a", "missing"})
        ASSERT_RC(RC_OK, handler.WatchFolder(WidePath(folder)));
      ASSERT_RC(RC_OK, handler.StartWorker());
      test::WriteFileBytes(PathOf("a/app.cfg"), "[root]\nSeverity = WARN\n");
      EXPECT_TRUE(Eventually([&] { return calls == 3; })) << "edit of a watched file";
    }
    gTicks = ticks;
    EXPECT_RC(RC_OK, Log(&tree.Root(), u"tick"));
    EXPECT_EQ(calledSoFar, calls) << "at tick " << ticks;
  }
  ASSERT_RC(RC_OK, handler.WatchFolder(WidePath("b")));
  test::WriteFileBytes(PathOf("b/other.cfg"), "[root]\n");
  EXPECT_TRUE(Eventually([&] { return calls > 3; })) << "a folder added while running";
  handler.StopWorker();
  SetClockSource(nullptr);
}

// The parent's worker does not exist in a child: the child writes at once
// with its own process id, starts a worker of its own, and leaves what the
// parent had queued to the parent.
TEST_F(AsyncTest, AForkedChildLogsUnderItsOwnIdAndRunsItsOwnWorker) {
  if (test::kThreadSanitizer) GTEST_SKIP() << "threads cannot start in a forked child under ThreadSanitizer";
  Logger* logger = WithFile(u"forked", "fork.log");
  ASSERT_RC(RC_OK, system_.StartAsyncWorker());
  for (unsigned n = 0; n < 500; ++n) ASSERT_RC(RC_OK, Log(logger, u"%s", AppendLineText(0, n).c_str()));
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    bool ok = !system_.Handler().IsRunning() && Succeeded(Log(logger, u"%s", AppendLineText(1, 0).c_str())) &&
              Succeeded(system_.StartAsyncWorker()) && system_.Handler().IsRunning();
    for (unsigned n = 1; n < 300; ++n) ok = ok && Succeeded(Log(logger, u"%s", AppendLineText(1, n).c_str()));
    system_.StopAsyncWorker();
    std::_Exit(ok ? 0 : 1);
  }
  for (unsigned n = 500; n < 1000; ++n) ASSERT_RC(RC_OK, Log(logger, u"%s", AppendLineText(0, n).c_str()));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  system_.StopAsyncWorker();

  ExpectEveryLineOnce("fork.log", {{0, 1000}, {1, 300}});
  for (const std::string& line : test::ReadLogLines(PathOf("fork.log"))) {
    const bool fromChild = line.find(" MSG:w1 ") != std::string::npos;
    const std::string pid = " PID:" + std::to_string(fromChild ? child : CurrentProcessId()) + " ";
    EXPECT_NE(std::string::npos, line.find(pid)) << line.substr(0, 80);
  }
}

}  // namespace
}  // namespace zun
