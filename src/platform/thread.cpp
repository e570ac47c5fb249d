#include "platform/thread.h"

#include <sched.h>
#include <signal.h>

#include <new>

#include "platform/file_calls.h"

namespace zun {

namespace {

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
  auto* block = new (std::nothrow) StartBlock{body, context};
  if (block == nullptr) return RC_OUT_OF_MEMORY;
  // The new thread inherits the mask in force while it is made.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const int error = Files().threadCreate(&thread_, RunBody, block);
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

}  // namespace zun
