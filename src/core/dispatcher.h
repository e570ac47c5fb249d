#pragma once
// The dispatcher: every record of every logger passes through it, to the
// asynchronous queue while the worker runs, else straight to the appenders
// on the calling thread. It is the AppenderOwner of the appenders it serves:
// it records the files they open and compresses the logs they roll.
#include <atomic>
#include <cstdint>

#include "appenders/appender_owner.h"
#include "appenders/standalone_owner.h"

namespace zun {

class AsyncHandler;

// Thread safe: every operation may run on any thread at the same time.
class Dispatcher final : public AppenderOwner {
 public:
  // `handler` (may be null: every record is written at once) and `ops` are
  // not owned and must outlive the dispatcher.
  explicit Dispatcher(AsyncHandler* handler = nullptr, FileCompressionOps& ops = SystemFileCompressionOps())
      : handler_(handler), reports_(ops) {}

  // Housekeeping first (at most once a second). Then, while the handler's
  // run flag is set, queues the record; otherwise writes it at once, its
  // message replaced by the protected form its mode asks for (an encoding
  // failure is returned and nothing is written), and returns the code of
  // LoggerTree::WriteToAppenders.
  ResultCode Dispatch(Logger* logger, LogRecord&& record) noexcept override;
  // Housekeeping only.
  void Skip(Logger* logger) noexcept override;
  ResultCode ReportRolledFile(WStringView path) noexcept override;
  // Through the handler; RC_NOT_SUPPORTED without one.
  ResultCode WatchFolder(WStringView folder) noexcept override;
  ResultCode ReportOpenedFile(WStringView path) noexcept override;

  // Every distinct path reported by a file appender, newest first.
  const OpenedFileList& OpenedFiles() const { return reports_.OpenedFiles(); }
  // Waits for every compression started so far (the log system stops).
  void FinishCompressions() noexcept;

 private:
  static constexpr std::uint64_t kHousekeepingIntervalMs = 1000;

  // Runs the once-a-second work on the first thread that finds it due (the
  // others go on at once): collects finished compressions, has the
  // appenders of `logger`'s tree check their targets, and without a running
  // worker looks for changed configuration.
  void Housekeeping(Logger* logger) noexcept;

  AsyncHandler* const handler_;
  StandaloneAppenderOwner reports_;
  std::atomic<std::uint32_t> busy_{0};  // one thread does the housekeeping
  std::atomic<std::uint64_t> lastHousekeepingMs_{0};
};

}  // namespace zun
