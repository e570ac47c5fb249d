#include "core/async_handler.h"

#include <algorithm>
#include <cstdarg>
#include <new>

#include "core/logger.h"
#include "core/logger_tree.h"
#include "platform/process_events.h"
#include "records/protected_record.h"
#include "records/severity.h"

namespace zun {

namespace {

// The overflow warning's call.
constexpr const char16_t* kOverflowFileId = u"{610B64A8-D676-4CD6-866D-5BE2C66FE3D2}";
constexpr std::uint32_t kOverflowLine = 223;
constexpr std::uint32_t kOverflowBuild = 8097;
constexpr std::uint32_t kOverflowRevision = 8038423;
constexpr const char16_t* kOverflowRevisionText = u"BADF00D";
constexpr std::uint32_t kOverflowProduct = 8;
constexpr std::uint32_t kOverflowProtection = 1;
// Flag bit 4 of a logger: revisions are printed as text.
constexpr std::uint32_t kLoggerFlagRevisionText = 0x10;

// Records of one logger in a row are written as one batch of at most this
// many, so each file takes one write per batch.
constexpr std::size_t kMaxBatch = 1024;
// A spare array this large that served a load this much smaller is given
// up.
constexpr std::size_t kSpareShrinkAbove = 4096;
constexpr std::size_t kSpareShrinkFactor = 8;

// A worker that found the queue empty yields this many times, looking for a
// record, before it sleeps: a steady stream of records then never pays for
// waking it.
constexpr int kLingerTurns = 200;

// The worker's wait set: these two, then one descriptor per watched folder.
constexpr std::size_t kStopIndex = 0;
constexpr std::size_t kWakeIndex = 1;
constexpr std::size_t kFirstFolderIndex = 2;

// The handlers of the process, so the fork handlers reach each of them.
std::mutex gHandlersLock;
AsyncHandler* gHandlers = nullptr;  // guarded by gHandlersLock
bool gForkHandlersAdded = false;    // guarded by gHandlersLock

// An empty tagged list follows `useRevisionText`.
void LogOverflowWarning(ZunLogger* face, int useRevisionText, ...) {
  va_list args;
  va_start(args, useRevisionText);
  if (useRevisionText != 0) {
    face->vtbl->LogRevisionTextFull(face, kSeverityWarn, nullptr, kOverflowFileId, kOverflowLine,
                                    kOverflowBuild, kOverflowRevisionText, kOverflowProduct,
                                    kOverflowProtection, &args);
  } else {
    face->vtbl->LogFull(face, kSeverityWarn, nullptr, kOverflowFileId, kOverflowLine, kOverflowBuild,
                        kOverflowRevision, kOverflowProduct, kOverflowProtection, &args);
  }
  va_end(args);
}

}  // namespace

ResultCode WriteRecordNow(Logger* logger, LogRecord& record) noexcept {
  const ResultCode rc = EncodeMessageText(record);
  if (Failed(rc)) return rc;
  return LoggerTree::WriteToAppenders(logger, record);
}

AsyncHandler::~AsyncHandler() {
  StopWorker();
  if (!listed_) return;
  std::lock_guard<std::mutex> hold(gHandlersLock);
  if (prev_ != nullptr) {
    prev_->next_ = next_;
  } else {
    gHandlers = next_;
  }
  if (next_ != nullptr) next_->prev_ = prev_;
}

ResultCode AsyncHandler::Create(ChangeCallback callback, void* context, Logger* ownLogger) noexcept {
  if (listed_) return RC_INVALID_OPERATION;
  ResultCode rc = stop_.Create();
  if (Succeeded(rc)) rc = wake_.Create();
  if (Failed(rc)) return rc;
  callback_ = callback;
  context_ = context;
  ownLogger_ = ownLogger;

  HandleForks();
  std::lock_guard<std::mutex> hold(gHandlersLock);
  next_ = gHandlers;
  if (next_ != nullptr) next_->prev_ = this;
  gHandlers = this;
  listed_ = true;
  return RC_OK;
}

ResultCode AsyncHandler::Enqueue(Logger* logger, LogRecord&& record) noexcept {
  QueueHold hold(queueLock_);
  if (!running_.load(std::memory_order_relaxed)) return WriteRecordNow(logger, record);
  if (maxBytes_ != 0 && (std::uint64_t{queue_.count} + 1) * kRecordCost > maxBytes_) Overflow();
  if (queue_.count == queue_.slots.size()) {
    try {
      queue_.slots.emplace_back();
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
  }
  Entry& entry = queue_.slots[queue_.count++];
  entry.logger = logger;
  std::swap(entry.record, record);
  queuedHint_.store(queue_.count, std::memory_order_relaxed);
  // A worker that is awake looks at the queue again before it waits, so
  // only a waiting one needs the event.
  if (!sleeping_) return RC_OK;
  sleeping_ = false;
  return wake_.Signal();
}

void AsyncHandler::Overflow() {
  queue_.count = queue_.count * 2 / 3;
  queuedHint_.store(queue_.count, std::memory_order_relaxed);
  // The warning comes back here through the dispatcher (the queue lock is
  // re-entrant) and is queued after the records kept.
  if (ownLogger_ == nullptr || ownLogger_->Threshold() > kSeverityWarn) return;
  LogOverflowWarning(ownLogger_->Interface(), (ownLogger_->Flags() & kLoggerFlagRevisionText) != 0 ? 1 : 0,
                     ZUN_TAG_END);
}

std::size_t AsyncHandler::Drain() noexcept {
  std::lock_guard<std::mutex> drain(drainLock_);
  {
    QueueHold hold(queueLock_);
    if (queue_.count == 0) return 0;
    queue_.Swap(spare_);
    queuedHint_.store(0, std::memory_order_relaxed);
  }
  Entries& taken = spare_;
  const std::size_t load = taken.count;
  WriteTaken(taken);
  taken.count = 0;
  // Far larger than the load it served: the next arrays grow afresh.
  if (taken.slots.size() > kSpareShrinkAbove && taken.slots.size() > kSpareShrinkFactor * load)
    taken = Entries();
  return load;
}

void AsyncHandler::WriteTaken(Entries& taken) noexcept {
  try {
    batch_.reserve(kMaxBatch);
    failed_.resize(kMaxBatch);
  } catch (const std::bad_alloc&) {
    for (std::size_t i = 0; i < taken.count; ++i)
      (void)WriteRecordNow(taken.slots[i].logger, taken.slots[i].record);
    return;
  }
  for (std::size_t at = 0; at < taken.count;) {
    Logger* const logger = taken.slots[at].logger;
    batch_.clear();
    for (; at < taken.count && taken.slots[at].logger == logger && batch_.size() < kMaxBatch; ++at) {
      LogRecord& record = taken.slots[at].record;
      if (Succeeded(EncodeMessageText(record))) batch_.push_back(&record);
    }
    LoggerTree::WriteBatchToAppenders(logger, batch_.data(), batch_.size(), failed_.data());
  }
}

void AsyncHandler::SetMaxQueueSize(std::uint32_t bytes) noexcept {
  QueueHold hold(queueLock_);
  maxBytes_ = bytes != 0 && bytes < kSmallestBound ? kSmallestBound : bytes;
}

std::uint32_t AsyncHandler::MaxQueueSize() const noexcept {
  QueueHold hold(queueLock_);
  return maxBytes_;
}

ResultCode AsyncHandler::StartWorker() noexcept {
  std::lock_guard<std::mutex> control(controlLock_);
  if (closed_) return RC_NOT_AVAILABLE;
  if (thread_.Started()) return RC_OK;
  {
    QueueHold hold(queueLock_);
    (void)watcher_.OpenAll(nullptr);
    running_.store(true, std::memory_order_release);
  }
  return thread_.Start(RunWorker, this);
}

void AsyncHandler::StopWorker() noexcept {
  {
    std::lock_guard<std::mutex> control(controlLock_);
    {
      QueueHold hold(queueLock_);
      running_.store(false, std::memory_order_release);
    }
    if (thread_.Started()) {
      (void)stop_.Signal();
      thread_.Join();
      stop_.Reset();
    }
    // Also the ones opened while no thread could be started.
    QueueHold hold(queueLock_);
    watcher_.CloseAll();
  }
  // Also records queued while no thread could be started.
  Drain();
  std::lock_guard<std::mutex> drain(drainLock_);
  spare_ = Entries();
  QueueHold hold(queueLock_);
  // A worker started meanwhile may have records queued already.
  if (queue_.count == 0) queue_ = Entries();
}

void AsyncHandler::StopForGood() noexcept {
  {
    std::lock_guard<std::mutex> control(controlLock_);
    closed_ = true;
  }
  StopWorker();
}

ResultCode AsyncHandler::WatchFolder(WStringView folder) noexcept {
  QueueHold hold(queueLock_);
  ChangeWatch* added = nullptr;
  const ResultCode rc = watcher_.Add(folder, &added);
  if (Failed(rc) || added == nullptr || !running_.load(std::memory_order_relaxed)) return rc;
  // The worker takes it into its wait set at its next turn.
  (void)added->Open(folder);
  foldersAdded_.store(true, std::memory_order_release);
  if (sleeping_) {
    sleeping_ = false;
    (void)wake_.Signal();
  }
  return RC_OK;
}

void AsyncHandler::CallChangeCallback() noexcept {
  if (callback_ != nullptr) callback_(context_);
}

std::size_t AsyncHandler::QueuedCount() const noexcept {
  QueueHold hold(queueLock_);
  return queue_.count;
}

std::size_t AsyncHandler::WatchedFolderCount() const noexcept {
  QueueHold hold(queueLock_);
  return watcher_.Count();
}

void AsyncHandler::HandleForks() noexcept {
  std::lock_guard<std::mutex> hold(gHandlersLock);
  if (gForkHandlersAdded) return;
  AddForkHandlers(PrepareFork, AfterForkInParent, AfterForkInChild);
  gForkHandlersAdded = true;
}

void AsyncHandler::RunWorker(void* self) noexcept { static_cast<AsyncHandler*>(self)->WorkerLoop(); }

void AsyncHandler::WorkerLoop() noexcept {
  std::vector<ChangeWatch*> watches;
  std::vector<int> fds;
  std::vector<std::uint8_t> ready;
  bool rebuild = true;
  for (;;) {
    if (rebuild || foldersAdded_.load(std::memory_order_acquire)) {
      QueueHold hold(queueLock_);
      RebuildWaitSet(watches, fds, ready);
      rebuild = false;
    }
    bool sleep = false;
    if (Drain() == 0) {
      Linger();
      QueueHold hold(queueLock_);
      sleep = queue_.count == 0 && !foldersAdded_.load(std::memory_order_relaxed);
      sleeping_ = sleep;
    }
    // A busy worker only looks whether it is told to stop or a folder
    // changed, then writes on.
    if (Failed(WaitReadable(fds.data(), fds.size(), sleep ? -1 : 0, ready.data()))) {
      std::fill(ready.begin(), ready.end(), std::uint8_t{0});
    }
    if (ready[kStopIndex] != 0) {
      Drain();
      QueueHold hold(queueLock_);
      watcher_.CloseAll();
      return;
    }
    if (ready[kWakeIndex] != 0) {
      wake_.Reset();
      // Folders that could not be watched are tried again.
      rebuild = true;
    }
    for (std::size_t i = kFirstFolderIndex; i < fds.size(); ++i) {
      if (ready[i] == 0) continue;
      ChangeWatch* watch = watches[i - kFirstFolderIndex];
      watch->Consume();
      if (!watch->IsOpen()) rebuild = true;
      std::lock_guard<std::mutex> hold(callbackLock_);
      CallChangeCallback();
    }
  }
}

void AsyncHandler::Linger() noexcept {
  for (int turn = 0; turn < kLingerTurns; ++turn) {
    if (queuedHint_.load(std::memory_order_relaxed) != 0 || !running_.load(std::memory_order_relaxed)) return;
    YieldThread();
  }
}

void AsyncHandler::RebuildWaitSet(std::vector<ChangeWatch*>& watches, std::vector<int>& fds,
                                  std::vector<std::uint8_t>& ready) noexcept {
  foldersAdded_.store(false, std::memory_order_relaxed);
  try {
    // The first two never fail: the vectors keep their room from the start.
    fds.reserve(kFirstFolderIndex);
    ready.reserve(kFirstFolderIndex);
    fds.assign({stop_.Descriptor(), wake_.Descriptor()});
    (void)watcher_.OpenAll(&watches);
    for (const ChangeWatch* watch : watches) fds.push_back(watch->Descriptor());
    ready.resize(fds.size());
  } catch (const std::bad_alloc&) {
    // Folders are not watched this turn; the events still are.
    watches.clear();
    fds.resize(kFirstFolderIndex);
    ready.resize(kFirstFolderIndex);
  }
}

// Fork waits until no handler is inside a drain, a start or stop, or the
// change callback, so the child finds every lock of the handlers free and
// no appender lock held by a worker.
void AsyncHandler::PrepareFork() {
  gHandlersLock.lock();
  for (AsyncHandler* at = gHandlers; at != nullptr; at = at->next_) at->LockForFork();
}

void AsyncHandler::AfterForkInParent() {
  for (AsyncHandler* at = gHandlers; at != nullptr; at = at->next_) at->UnlockAfterFork();
  gHandlersLock.unlock();
}

void AsyncHandler::AfterForkInChild() {
  for (AsyncHandler* at = gHandlers; at != nullptr; at = at->next_) {
    at->ResetInChild();
    at->UnlockAfterFork();
  }
  gHandlersLock.unlock();
}

void AsyncHandler::LockForFork() {
  controlLock_.lock();
  callbackLock_.lock();
  drainLock_.lock();
  queueLock_.lock();
}

void AsyncHandler::UnlockAfterFork() {
  queueLock_.unlock();
  drainLock_.unlock();
  callbackLock_.unlock();
  controlLock_.unlock();
}

void AsyncHandler::ResetInChild() noexcept {
  thread_.Forget();
  running_.store(false, std::memory_order_relaxed);
  sleeping_ = false;
  // The parent writes what it had queued.
  queue_.count = 0;
  queuedHint_.store(0, std::memory_order_relaxed);
  // Both events and every watch are shared with the parent until replaced.
  (void)stop_.Create();
  (void)wake_.Create();
  watcher_.CloseAll();
}

}  // namespace zun
