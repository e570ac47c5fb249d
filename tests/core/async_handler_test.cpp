// The log system's asynchronous handler through real loggers, file and
// console appenders, worker threads, folders and processes.
#include "core/async_handler.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <thread>

#include "appenders/appender_fixtures.h"
#include "appenders/console_appender.h"
#include "core/log_system.h"
#include "hosts/append_lines.h"
#include "platform/clock.h"
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
  for (const std::string& line : lines) {
    const std::size_t at = line.find(" MSG:");
    messages.push_back(at == std::string::npos ? line : line.substr(at + 5));
  }
  return messages;
}

// Polls `done` until it holds or ten seconds passed; for what another thread
// or the file system does in its own time.
template <typename Done>
bool Eventually(Done done) {
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::yield()) {
    if (done()) return true;
  }
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
  // Every line of `writers` once, and each writer's lines in the order
  // written.
  void ExpectEveryLineOnceInOrder(const std::string& file, const test::AppendWriters& writers) {
    const Lines messages = FileMessages(file);
    test::ExpectEveryLineOnce(messages, writers);
    std::map<unsigned, unsigned> next;
    for (const std::string& message : messages) {
      unsigned writer = 0, index = 0;
      if (std::sscanf(message.c_str(), "w%u n%u", &writer, &index) != 2) continue;
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
    Logger* logger = WithFile(u"mode" + ToUtf16(std::to_string(mode)), file);
    if (mode == kWorker) ASSERT_RC(RC_OK, system_.StartAsyncWorker());
    std::atomic<unsigned> writing{kThreads};
    test::RunThreads(kThreads + (mode == kStartStopAndFlush ? 2 : 0), [&](unsigned t) {
      if (t < kThreads) {
        for (unsigned n = 0; n < kLines; ++n)
          EXPECT_RC(RC_OK, Log(logger, u"%s", AppendLineText(t, n).c_str()));
        --writing;
      }
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
    if (mode == kStartStopAndFlush) {
      test::ExpectEveryLineOnce(FileMessages(file), writers);
    } else {
      ExpectEveryLineOnceInOrder(file, writers);
    }
  }
}

// No thread can be started: the run flag stays set, records wait in the
// queue, and a flush or the stop writes them. A record lost by a logger's
// appender does not go on to the parent, queued or not. The queue's bound.
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
  EXPECT_EQ((Lines{"three"}), FileMessages("parent.log"));
  ASSERT_RC(RC_OK, Log(logger, u"four"));
  EXPECT_EQ((Lines{"three", "four"}), FileMessages("parent.log")) << "written at once after the stop";

  // The bound: 33554432 bytes unless set, five records at least, 0 none.
  EXPECT_EQ(33554432u, system_.Handler().MaxQueueSize());
  for (const auto& [asked, stored] : {std::pair{100u, 1520u}, {1u, 1520u}, {1521u, 1521u}, {0u, 0u}}) {
    system_.Handler().SetMaxQueueSize(asked);
    EXPECT_EQ(stored, system_.Handler().MaxQueueSize()) << asked;
  }
}

struct OverflowCase {
  std::uint32_t handlerFlags;  // ORed into "ASYNCHANDLER"
  Severity handlerThreshold;
  const char* warningId;  // null: no warning
};

// Runs in a child whose standard output is a full pipe: the worker takes
// the first record and blocks writing it to the console, so the next six
// meet a queue of at most five records. Returns 0 when the console shows
// what the bound and the warning rule ask for.
int OverflowScenario(const OverflowCase& c, WStringView logFolder) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0 || fcntl(out[1], F_SETFL, O_NONBLOCK) != 0) return 10;
  std::size_t filler = 0;
  while (write(out[1], "x", 1) == 1) ++filler;
  if (fcntl(out[1], F_SETFL, 0) != 0 || dup2(out[1], STDOUT_FILENO) < 0) return 11;
  close(out[1]);

  StandardLayout layout(std::u16string(u"standard"));
  std::unique_ptr<ConsoleAppender> console;
  LogSystem system;
  Logger *logger = nullptr, *handlerLogger = nullptr;
  if (Failed(system.Start(u"", logFolder)) ||
      Failed(ConsoleAppender::Create(&system.RecordDispatcher(), u"c", &console)) ||
      Failed(system.Tree().GetOrCreate(&logger, 58, u"overflow")) ||
      Failed(system.Tree().GetOrCreate(&handlerLogger, c.handlerFlags, u"ASYNCHANDLER"))) {
    return 12;
  }
  console->AttachLayout(&layout);
  LoggerTree::AddAppender(&system.Tree().Root(), console.get());
  LoggerTree::SetThreshold(handlerLogger, c.handlerThreshold);
  system.Handler().SetMaxQueueSize(100);
  if (Failed(system.StartAsyncWorker()) || Failed(Log(logger, u"r0"))) return 13;
  if (!Eventually([&] { return system.Handler().QueuedCount() == 0; })) return 14;
  for (const char16_t* message : {u"r1", u"r2", u"r3", u"r4", u"r5", u"r6"}) {
    if (Failed(Log(logger, message))) return 15;
  }
  const std::size_t queued = system.Handler().QueuedCount();

  std::string bytes;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
      bytes.append(buffer, static_cast<std::size_t>(n));
  });
  system.StopAsyncWorker();
  close(STDOUT_FILENO);
  reader.join();

  Lines lines;
  for (std::size_t at = filler, end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(bytes.substr(at, end - at));
  }
  Lines expected = {"r0", "r1", "r2", "r3", "*", "r6"};
  if (c.warningId == nullptr) expected.erase(expected.begin() + 4);
  const bool warningAsAsked =
      c.warningId == nullptr ||
      (lines.size() > 4 && lines[4].rfind("[ASYNCHANDLER] WARN ", 0) == 0 &&
       lines[4].find(std::string(" ID:") + c.warningId + " MSG:*") != std::string::npos);
  if (queued != expected.size() - 1 || Messages(lines) != expected || !warningAsAsked) {
    std::fprintf(stderr, "queued %zu, console:\n", queued);
    for (const std::string& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
    return 16;
  }
  return 0;
}

class AsyncOverflow : public test::TempDirTest {};

TEST_F(AsyncOverflow, KeepsTheOldestTwoThirdsAndQueuesOneWarningThroughItsLogger) {
  const OverflowCase cases[] = {
      {0, kSeverityInfo, "{610B64A8-D676-4CD6-866D-5BE2C66FE3D2}:223.8097.8038423.8"},
      {0x10, kSeverityWarn, "{610B64A8-D676-4CD6-866D-5BE2C66FE3D2}:223.8097.BADF00D.8"},
      {0, kSeverityError, nullptr},
  };
  for (const OverflowCase& c : cases) {
    EXPECT_EXIT(std::_Exit(OverflowScenario(c, ToUtf16(Dir().string()))), ::testing::ExitedWithCode(0), "")
        << c.handlerThreshold;
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
  for (const auto& [ticks, calledSoFar] : {std::pair{5000, 1}, {5999, 1}, {6001, 2}, {6500, 2}}) {
    gTicks = ticks;
    EXPECT_RC(RC_OK, Log(&tree.Root(), u"tick"));
    EXPECT_EQ(calledSoFar, calls) << "at tick " << ticks;
  }

  for (const char* folder : {"a", "b"}) std::filesystem::create_directory(PathOf(folder));
  for (const char* folder : {"a", "a", "missing"}) ASSERT_RC(RC_OK, handler.WatchFolder(WidePath(folder)));
  EXPECT_EQ(2u, handler.WatchedFolderCount());
  ASSERT_RC(RC_OK, handler.StartWorker());
  gTicks = 9000;
  EXPECT_RC(RC_OK, Log(&tree.Root(), u"tick"));
  EXPECT_EQ(2, calls);
  test::WriteFileBytes(PathOf("a/app.cfg"), "[root]\nSeverity = WARN\n");
  EXPECT_TRUE(Eventually([&] { return calls > 2; })) << "edit of a watched file";
  ASSERT_RC(RC_OK, handler.WatchFolder(WidePath("b")));
  const int seen = calls;
  test::WriteFileBytes(PathOf("b/other.cfg"), "[root]\n");
  EXPECT_TRUE(Eventually([&] { return calls > seen; })) << "a folder added while running";
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

  ExpectEveryLineOnceInOrder("fork.log", {{0, 1000}, {1, 300}});
  for (const std::string& line : test::ReadLogLines(PathOf("fork.log"))) {
    const bool fromChild = line.find(" MSG:w1 ") != std::string::npos;
    const std::string pid = " PID:" + std::to_string(fromChild ? child : CurrentProcessId()) + " ";
    EXPECT_NE(std::string::npos, line.find(pid)) << line.substr(0, 80);
  }
}

}  // namespace
}  // namespace zun
