#include "appenders/rolled_file_compressor.h"

#include <chrono>
#include <new>

#include "platform/directory_listing.h"
#include "platform/file_compression.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace zun {

namespace {

class SystemCompression final : public FileCompressionOps {
 public:
  ResultCode IsCompressed(WStringView path, bool* compressed) noexcept override {
    return IsFileCompressed(path, compressed);
  }
  ResultCode Compress(WStringView path) noexcept override { return CompressFile(path); }
};

bool EndsWithIgnoreCase(WStringView text, WStringView end) {
  return text.size() >= end.size() && EqualsIgnoreCase(text.substr(text.size() - end.size()), end);
}

// The names in `folder` that match `pattern`, in listing order. On Linux a
// family name may itself hold "*" or "?", so names are also required to
// start with the family and a ".".
ResultCode ListFamilyMembers(WStringView folder, WStringView family, WStringView pattern,
                             std::vector<WString>* names) {
  DirectoryListing listing;
  // Files only: folders are never compressed, and a link named like a backup
  // must not lead to compressing a file elsewhere.
  ResultCode rc = listing.Open(folder, pattern, kListFiles);
  if (Failed(rc)) return rc;
  for (rc = listing.First(); rc == 0; rc = listing.Next()) {
    const WStringView name = ViewOf(listing.Current().name);
    if (name.size() <= family.size() || name[family.size()] != u'.' ||
        !EqualsIgnoreCase(name.substr(0, family.size()), family)) {
      continue;
    }
    names->emplace_back(name);
  }
  return Failed(rc) ? rc : 0;
}

}  // namespace

FileCompressionOps& SystemFileCompressionOps() {
  static SystemCompression system;
  return system;
}

RolledFileCompressor::RolledFileCompressor(FileCompressionOps& ops) : ops_(ops) {}

RolledFileCompressor::~RolledFileCompressor() {
  std::lock_guard<std::mutex> lock(lock_);
  StopWorkerLocked();
  pending_.clear();
}

ResultCode RolledFileCompressor::ReportRolledFile(WStringView path) noexcept {
  std::size_t nameStart = path.size();
  while (nameStart > 0 && !IsPathSeparator(path[nameStart - 1])) --nameStart;
  const WStringView name = path.substr(nameStart);
  if (name.empty()) return RC_INVALID_PARAMETER;
  const WStringView family = name.substr(0, name.find(u'.'));
  // Listed names are joined to the path's own folder text, separator included.
  const WStringView prefix = path.substr(0, nameStart);
  const WStringView folder =
      nameStart == 0 ? WStringView(u".") : path.substr(0, nameStart == 1 ? 1 : nameStart - 1);

  try {
    for (const char16_t* suffix : {u".*-*-*.log", u".log.*"}) {
      WString pattern(family);
      pattern += suffix;
      const ResultCode rc = CompressMatches(folder, prefix, family, pattern);
      if (Failed(rc)) return rc;
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return 0;
}

ResultCode RolledFileCompressor::CompressMatches(WStringView folder, WStringView prefix, WStringView family,
                                                 WStringView pattern) noexcept {
  std::vector<WString> candidates;
  try {
    std::vector<WString> names;
    const ResultCode rc = ListFamilyMembers(folder, family, pattern, &names);
    if (Failed(rc)) return rc;
    for (const WString& name : names) {
      if (EndsWithIgnoreCase(name, u".lock")) continue;
      WString full(prefix);
      full += name;
      bool compressed = false;
      if (Failed(ops_.IsCompressed(full, &compressed)) || compressed) continue;
      candidates.push_back(std::move(full));
    }
  } catch (const std::bad_alloc&) {
    // Files found so far still get their request.
  }

  std::lock_guard<std::mutex> lock(lock_);
  CollectLocked(0);
  for (const WString& candidate : candidates) {
    bool waiting = false;
    for (const auto& request : pending_) waiting = waiting || request->path == candidate;
    if (!waiting) StartRequestLocked(candidate);
  }
  return 0;
}

void RolledFileCompressor::StartRequestLocked(WStringView path) {
  std::unique_ptr<Request> request;
  try {
    request = std::make_unique<Request>();
    request->path = path;
    pending_.reserve(pending_.size() + 1);
    ForgetParentWorkerLocked();
    if (!worker_.Started()) {
      const auto run = [](void* self) { static_cast<RolledFileCompressor*>(self)->RunWorker(); };
      if (Failed(worker_.Start(run, this))) {
        // No worker thread could be started: compress here and now instead.
        (void)ops_.Compress(path);
        return;
      }
      workerProcess_ = CurrentProcessId();
    }
    std::lock_guard<std::mutex> work(workMutex_);
    queue_.push_back(request.get());
  } catch (const std::bad_alloc&) {
    return;  // this file is skipped
  }
  pending_.push_back(std::move(request));
  workAvailable_.notify_one();
}

ResultCode RolledFileCompressor::CollectCompletions(std::uint32_t waitMs) noexcept {
  std::lock_guard<std::mutex> lock(lock_);
  CollectLocked(waitMs);
  if (waitMs == kWaitWithoutLimit) StopWorkerLocked();
  return 0;
}

std::size_t RolledFileCompressor::PendingCount() const noexcept {
  std::lock_guard<std::mutex> lock(lock_);
  return pending_.size();
}

void RolledFileCompressor::CollectLocked(std::uint32_t waitMs) {
  ForgetParentWorkerLocked();
  if (pending_.empty()) return;
  std::unique_lock<std::mutex> work(workMutex_);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    Request& request = *pending_[i];
    const auto finished = [&request] { return request.done; };
    bool done = request.done;
    if (!done && waitMs == kWaitWithoutLimit) {
      requestDone_.wait(work, finished);
      done = true;
    } else if (!done && waitMs != 0) {
      done = requestDone_.wait_for(work, std::chrono::milliseconds(waitMs), finished);
    }
    if (!done && kept != i) pending_[kept] = std::move(pending_[i]);
    if (!done) ++kept;
  }
  pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(kept), pending_.end());
}

void RolledFileCompressor::ForgetParentWorkerLocked() {
  if (!worker_.Started() || workerProcess_ == CurrentProcessId()) return;
  worker_.Forget();
  // The parent's worker may have held the mutex or waited on the conditions
  // at the fork; copied in that state they would block the child for good.
  // Their old state belongs to a thread that is not here: made anew.
  new (&workMutex_) std::mutex();
  new (&workAvailable_) std::condition_variable();
  new (&requestDone_) std::condition_variable();
  queue_.clear();
  pending_.clear();
  stopping_ = false;
}

void RolledFileCompressor::StopWorkerLocked() {
  ForgetParentWorkerLocked();
  if (!worker_.Started()) return;
  {
    std::lock_guard<std::mutex> work(workMutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  worker_.Join();
  std::lock_guard<std::mutex> work(workMutex_);
  stopping_ = false;
}

void RolledFileCompressor::RunWorker() {
  std::unique_lock<std::mutex> work(workMutex_);
  for (;;) {
    workAvailable_.wait(work, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // told to stop and nothing left
    Request* request = queue_.front();
    queue_.pop_front();
    work.unlock();
    // A roll that listed the file before an earlier request finished may
    // have queued it again.
    bool compressed = false;
    if (Succeeded(ops_.IsCompressed(request->path, &compressed)) && !compressed) {
      (void)ops_.Compress(request->path);
    }
    work.lock();
    request->done = true;
    requestDone_.notify_all();
  }
}

}  // namespace zun
