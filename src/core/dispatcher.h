#pragma once
// The synchronous dispatcher: every record is written on the thread that
// logged it. It is the AppenderOwner of the appenders it serves: it records
// the files they open and compresses the logs they roll.
#include <atomic>
#include <cstdint>

#include "appenders/appender_owner.h"
#include "appenders/standalone_owner.h"

namespace zun {

// Thread safe: every operation may run on any thread at the same time.
class Dispatcher final : public AppenderOwner {
 public:
  // `ops` is not owned and must outlive the dispatcher.
  explicit Dispatcher(FileCompressionOps& ops = SystemFileCompressionOps()) : reports_(ops) {}

  // At most once a second, first collects finished compressions and checks
  // that every log file of the tree is still at its path. Then, when
  // the record asks for protection and has a message, writes a copy whose
  // message is the protected form (an encoding failure is returned and
  // nothing is written); otherwise writes the record itself. Writing is
  // LoggerTree::WriteToAppenders, whose code is returned.
  ResultCode Dispatch(Logger* logger, const LogRecord& record) noexcept override;
  ResultCode ReportRolledFile(WStringView path) noexcept override;
  // No configuration files are watched here: RC_NOT_SUPPORTED.
  ResultCode WatchFolder(WStringView folder) noexcept override;
  ResultCode ReportOpenedFile(WStringView path) noexcept override;

  // Every distinct path reported by a file appender, newest first.
  const OpenedFileList& OpenedFiles() const { return reports_.OpenedFiles(); }

 private:
  static constexpr std::uint64_t kHousekeepingIntervalMs = 1000;

  // At most once a second: collects finished compressions and has the
  // appenders of `logger`'s tree check their targets.
  void Housekeeping(Logger* logger) noexcept;

  StandaloneAppenderOwner reports_;
  std::atomic<std::uint32_t> busy_{0};  // one thread does the housekeeping
  std::atomic<std::uint64_t> lastHousekeepingMs_{0};
};

}  // namespace zun
