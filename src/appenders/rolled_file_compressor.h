#pragma once
// Compression of rolled logs. When a rolling appender has rolled a file, the
// older logs of its family (the numbered backups and the dated files) are
// handed to the file system's own compression, in the background: their
// names and content stay, only the space they take shrinks.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/thread.h"

namespace zun {

// The file system's compression as the compressor sees it. Both operations
// may be called from any thread at the same time.
class FileCompressionOps {
 public:
  // Whether the file is compressed already; a failure means "cannot tell"
  // and the file is left alone.
  virtual ResultCode IsCompressed(WStringView path, bool* compressed) noexcept = 0;
  // Compresses the file; may take long. The result is not reported further.
  virtual ResultCode Compress(WStringView path) noexcept = 0;

 protected:
  ~FileCompressionOps() = default;
};

// The real file system (platform/file_compression.h); lives for the process.
FileCompressionOps& SystemFileCompressionOps();

// Starts compression requests for rolled files and collects their
// completions. Requests run one after another on a worker thread that the
// first request starts. Thread safe: every public operation takes the
// compressor's lock, the last lock in the library's order.
class RolledFileCompressor {
 public:
  // A wait time for CollectCompletions: wait until every request finished.
  static constexpr std::uint32_t kWaitWithoutLimit = UINT32_MAX;

  // `ops` is not owned and must outlive the compressor.
  explicit RolledFileCompressor(FileCompressionOps& ops = SystemFileCompressionOps());
  // Lets every started request finish, then ends the worker.
  ~RolledFileCompressor();
  RolledFileCompressor(const RolledFileCompressor&) = delete;
  RolledFileCompressor& operator=(const RolledFileCompressor&) = delete;

  // `path` was just rolled. Its family is the file name up to the first
  // "."; every file of the same folder that matches "<family>.*-*-*.log"
  // (dated files) or "<family>.log.*" (numbered backups), is not a ".lock"
  // file, not a folder, not compressed and not already waiting, gets a
  // request, dated files first. Files that cannot be checked or compressed
  // are skipped silently. Fails with the listing's code when a folder listing
  // fails (the numbered backups are then not tried when the dated files
  // failed), RC_INVALID_PARAMETER for a path without a file name, or
  // RC_OUT_OF_MEMORY.
  ResultCode ReportRolledFile(WStringView path) noexcept;

  // Removes finished requests from the pending list. `waitMs` is how long to
  // wait for each unfinished one: 0 only polls, kWaitWithoutLimit waits until
  // all have finished and then also ends the worker (a later request starts
  // a new one).
  ResultCode CollectCompletions(std::uint32_t waitMs) noexcept;

  // Requests started and not yet collected.
  std::size_t PendingCount() const noexcept;

 private:
  struct Request {
    WString path;       // set before the request is queued, then only read
    bool done = false;  // guarded by workMutex_
  };

  ResultCode CompressMatches(WStringView folder, WStringView prefix, WStringView family,
                             WStringView pattern) noexcept;
  void CollectLocked(std::uint32_t waitMs);
  void StartRequestLocked(WStringView path);
  void StopWorkerLocked();
  // In a child after fork the parent's worker and its requests are not
  // there: drops them, so that nothing waits for them.
  void ForgetParentWorkerLocked();
  void RunWorker();

  FileCompressionOps& ops_;

  mutable std::mutex lock_;                        // the compressor's lock
  std::vector<std::unique_ptr<Request>> pending_;  // guarded by lock_
  LibraryThread worker_;                           // started and joined under lock_
  std::uint32_t workerProcess_ = 0;                // the process that started it

  std::mutex workMutex_;
  std::condition_variable workAvailable_;
  std::condition_variable requestDone_;
  std::deque<Request*> queue_;  // guarded by workMutex_; entries owned by pending_
  bool stopping_ = false;       // guarded by workMutex_
};

}  // namespace zun
