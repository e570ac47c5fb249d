#include "platform/thread.h"

#include <sched.h>
#include <signal.h>

#include <atomic>
#include <new>

namespace zun {

namespace {

constinit std::atomic<ResultCode> gStartFailure{RC_OK};

struct StartBlock {
  void (*body)(void*);
  void* context;
};

void* RunBody(void* raw) {
  const StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  block.body(block.context);
  return nullptr;
}

}  // namespace

ResultCode LibraryThread::Start(void (*body)(void*), void* context) noexcept {
  if (started_) return RC_INVALID_OPERATION;
  const ResultCode failure = gStartFailure.load(std::memory_order_acquire);
  if (failure != RC_OK) return failure;
  auto* block = new (std::nothrow) StartBlock{body, context};
  if (block == nullptr) return RC_OUT_OF_MEMORY;
  // The new thread inherits the mask in force while it is made.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const int error = pthread_create(&thread_, nullptr, RunBody, block);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (error != 0) {
    delete block;
    return ResultFromErrno(error);
  }
  started_ = true;
  return RC_OK;
}

void LibraryThread::Join() noexcept {
  if (!started_) return;
  pthread_join(thread_, nullptr);
  started_ = false;
}

void YieldThread() noexcept { sched_yield(); }

void SetThreadStartFailure(ResultCode rc) noexcept { gStartFailure.store(rc, std::memory_order_release); }

}  // namespace zun
