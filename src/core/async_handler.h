#pragma once
// The asynchronous handler: the bounded record queue that log calls fill
// while the worker thread runs, the worker that writes it, and the folders
// of loaded configuration files that the worker watches for changes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "base/reentrant_lock.h"
#include "base/result_code.h"
#include "base/text.h"
#include "core/change_watcher.h"
#include "platform/thread.h"
#include "platform/wake_event.h"
#include "records/log_record.h"

namespace zun {

class Logger;

// Writes a record on the calling thread: its message becomes the protected
// form its mode asks for (a failure is returned and nothing is written),
// then LoggerTree::WriteToAppenders, whose code is returned.
ResultCode WriteRecordNow(Logger* logger, LogRecord& record) noexcept;

// Thread safety: every operation may be called on any thread at any time.
//
// Locks, each taken only after the ones above it: the control lock (start
// and stop), the callback lock (held by the worker while it calls the change
// callback), the drain lock (one thread writes taken records at a time, so
// records leave in queue order), the queue lock (re-entrant on its own
// thread; guards the queue, the spare array, the run flag for enqueuing, the
// bound and the watched folders). The queue lock is held only to swap or
// append, except while a record is written at once because the worker
// stopped meanwhile, and while the overflow warning is logged. The change
// callback takes the log system lock itself, so none of the handler's locks
// but the callback lock is held while it runs, and StopWorker must not be
// called with the log system lock held.
//
// Watches: the worker reads and closes the notifications it waits on; the
// others, and new ones, are opened under the queue lock.
//
// Fork: the handler does not fork with a batch half written. In the child
// the parent's worker does not exist: the handler is stopped, the parent's
// queued records are left to the parent, and the child may start its own
// worker.
class AsyncHandler {
 public:
  using ChangeCallback = void (*)(void* context);

  // What one queued record counts against the bound, in bytes.
  static constexpr std::uint32_t kRecordCost = 304;
  // The smallest bound: five records. 1 to 1520 become this.
  static constexpr std::uint32_t kSmallestBound = 5 * kRecordCost;
  static constexpr std::uint32_t kDefaultBound = 0x2000000;

  AsyncHandler() = default;
  // Stops the worker, writing what is queued.
  ~AsyncHandler();
  AsyncHandler(const AsyncHandler&) = delete;
  AsyncHandler& operator=(const AsyncHandler&) = delete;

  // Makes the events; the handler is stopped. `ownLogger` ("ASYNCHANDLER",
  // not owned, outlives the handler) takes the overflow warning;
  // `callback(context)` (none when null) is the change callback. Once only.
  ResultCode Create(ChangeCallback callback, void* context, Logger* ownLogger) noexcept;

  // The run flag: records are queued rather than written at once.
  bool IsRunning() const noexcept { return running_.load(std::memory_order_acquire); }

  // Queues the record (taking its texts) while the run flag is set, keeping
  // the oldest two thirds and logging one warning through "ASYNCHANDLER"
  // when the bound is reached; otherwise writes it at once (WriteRecordNow).
  // A queued record succeeds unless the worker could not be woken (the
  // record stays queued).
  ResultCode Enqueue(Logger* logger, LogRecord&& record) noexcept;

  // Writes every record queued so far, in queue order, on this thread, and
  // returns how many were taken. Failures are dropped: a lost record does
  // not stop the next.
  std::size_t Drain() noexcept;

  // The bound in bytes: 0 none; 1 to 1520 give 1520.
  void SetMaxQueueSize(std::uint32_t bytes) noexcept;
  std::uint32_t MaxQueueSize() const noexcept;

  // Sets the run flag, opens the notifications of the watched folders (a
  // change made after the call returns is seen) and starts the worker; 0
  // when it runs already. When
  // the thread cannot be started its code is returned and the run flag
  // stays set: records are queued until Drain or StopWorker writes them.
  // RC_NOT_AVAILABLE after StopForGood.
  ResultCode StartWorker() noexcept;
  // Clears the run flag, ends the worker, writes what is queued and
  // releases both arrays.
  void StopWorker() noexcept;
  // StopWorker, and no worker starts again (process exit).
  void StopForGood() noexcept;

  // Puts a folder under the change watch, once; while the worker runs, a
  // change made after the call returns is seen. RC_OUT_OF_MEMORY.
  ResultCode WatchFolder(WStringView folder) noexcept;
  // Calls the change callback on this thread.
  void CallChangeCallback() noexcept;

  std::size_t QueuedCount() const noexcept;
  std::size_t WatchedFolderCount() const noexcept;

  // Adds the fork handlers of every handler of the process, once; Create
  // does it too. Fork preparations added after it run before it.
  static void HandleForks() noexcept;

 private:
  struct Entry {
    Logger* logger = nullptr;
    LogRecord record;
  };
  // The entries of one array in use are the first `count`; the ones after
  // them keep the texts of records written earlier, so that a new record
  // swaps its texts in and the old ones go back to (and are freed by) the
  // thread that made them, never crossing threads.
  struct Entries {
    std::vector<Entry> slots;
    std::size_t count = 0;
    void Swap(Entries& other) noexcept {
      slots.swap(other.slots);
      std::swap(count, other.count);
    }
  };
  using QueueHold = std::lock_guard<ReentrantLock>;

  static void RunWorker(void* self) noexcept;
  void WorkerLoop() noexcept;
  // Waits a little, yielding, for a record before the worker goes to sleep.
  void Linger() noexcept;
  // Under the queue lock: the wait set of the stop and wake-up events and
  // of every folder whose notification could be opened.
  void RebuildWaitSet(std::vector<ChangeWatch*>& watches, std::vector<int>& fds,
                      std::vector<std::uint8_t>& ready) noexcept;
  void Overflow();
  void WriteTaken(Entries& taken) noexcept;

  static void PrepareFork();
  static void AfterForkInParent();
  static void AfterForkInChild();
  void LockForFork();
  void UnlockAfterFork();
  void ResetInChild() noexcept;

  ChangeCallback callback_ = nullptr;
  void* context_ = nullptr;
  Logger* ownLogger_ = nullptr;

  std::mutex controlLock_;
  LibraryThread thread_;  // guarded by controlLock_
  WakeEvent stop_;        // signalled by StopWorker
  bool closed_ = false;   // guarded by controlLock_

  std::mutex callbackLock_;

  std::mutex drainLock_;
  // The spare array: what the last drain wrote, count 0; it becomes the
  // queue at the next drain.
  Entries spare_;                        // guarded by drainLock_
  std::vector<const LogRecord*> batch_;  // guarded by drainLock_
  std::vector<std::uint8_t> failed_;     // guarded by drainLock_

  mutable ReentrantLock queueLock_;
  Entries queue_;  // guarded by queueLock_
  std::atomic<bool> running_{false};
  std::uint32_t maxBytes_ = kDefaultBound;  // guarded by queueLock_
  // The worker is about to wait or waits: the next record signals wake_.
  bool sleeping_ = false;  // guarded by queueLock_
  // Written under queueLock_; the worker glances at them without it.
  std::atomic<std::size_t> queuedHint_{0};
  std::atomic<bool> foldersAdded_{false};
  ChangeWatcher watcher_;  // guarded by queueLock_
  WakeEvent wake_;

  // The handlers of the process, for the fork handlers.
  AsyncHandler* next_ = nullptr;
  AsyncHandler* prev_ = nullptr;
  bool listed_ = false;
};

}  // namespace zun
