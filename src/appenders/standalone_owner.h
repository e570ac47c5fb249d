#pragma once
// An appender owner without a log system behind it: it records opened files
// and compresses rolled logs for real, and writes no records itself. Hosts
// of appenders outside a log system (tools, tests) use it.
#include <mutex>

#include "appenders/appender_owner.h"
#include "appenders/opened_file_list.h"
#include "appenders/rolled_file_compressor.h"

namespace zun {

// Thread safe. Destroying it waits for the compression requests it started.
class StandaloneAppenderOwner final : public AppenderOwner {
 public:
  // `ops` is not owned and must outlive the owner.
  explicit StandaloneAppenderOwner(FileCompressionOps& ops = SystemFileCompressionOps()) : compressor_(ops) {}

  // This owner writes no records itself: RC_NOT_SUPPORTED.
  ResultCode Dispatch(Logger* logger, LogRecord&& record) noexcept override;
  ResultCode ReportRolledFile(WStringView path) noexcept override;
  // This owner watches no configuration: RC_NOT_SUPPORTED.
  ResultCode WatchFolder(WStringView folder) noexcept override;
  ResultCode ReportOpenedFile(WStringView path) noexcept override;

  // Every distinct path reported, newest first.
  const OpenedFileList& OpenedFiles() const { return openedFiles_; }
  RolledFileCompressor& Compressor() { return compressor_; }

 private:
  std::mutex lock_;  // stands for the dispatcher's lock: guards reports_
  OpenedFileList openedFiles_;
  OpenedFileReports reports_{&openedFiles_};
  RolledFileCompressor compressor_;
};

}  // namespace zun
