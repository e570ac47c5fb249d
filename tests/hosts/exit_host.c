// A C host that loads the shared object with dlopen and ends in one of the
// ways a real host ends:
//
//   exit_host <library> keep     keeps a log object with its worker running
//                                and returns from main without dlclose
//   exit_host <library> threads  returns from main while four threads are
//                                inside log calls
//   exit_host <library> dlclose  four threads log while the worker runs and
//                                are joined; the object is kept; dlclose
//
// Exit status 0 when every step before the end succeeded; the end itself
// must not crash.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>

#include "zunlogx/zunlogx.h"

enum { kThreads = 4, kCallsBeforeExit = 200, kCallsPerJoinedThread = 2000 };

static ZunLogger* gLogger;
static atomic_uint gCalls[kThreads];
static atomic_int gFailures;
static int gJoin;

static void* LogLoop(void* arg) {
  const unsigned t = (unsigned)(size_t)arg;
  for (unsigned n = 0; !gJoin || n < kCallsPerJoinedThread; ++n) {
    const ZunResult rc = ZunLogFormat(gLogger, ZUN_SEVERITY_WARN, u"exit_host.c", __LINE__, ZUN_PROTECT_NONE,
                                      u"t%u n%u", t, n);
    atomic_fetch_add(&gFailures, rc != 0);
    atomic_store(&gCalls[t], n + 1);
  }
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: exit_host <library> keep|threads|dlclose\n");
    return 2;
  }
  const char* scenario = argv[2];
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 2;
  }
  ZunGetLogObjectFn getLogObject = (ZunGetLogObjectFn)dlsym(library, "ZunGetLogObject");
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = NULL;
  if (getLogObject == NULL || getLogObject(&id, &log) != 0 ||
      log->vtbl->GetLogger(log, &gLogger, u"exit.host") != 0)
    return 3;
  if (strcmp(scenario, "threads") != 0 && log->vtbl->StartAsyncWorker(log) != 0) return 4;
  if (strcmp(scenario, "keep") == 0) {
    return ZunLogFormat(gLogger, ZUN_SEVERITY_WARN, u"exit_host.c", __LINE__, ZUN_PROTECT_NONE, u"kept") == 0
               ? 0
               : 5;
  }

  gJoin = strcmp(scenario, "dlclose") == 0;
  pthread_t threads[kThreads];
  for (unsigned t = 0; t < kThreads; ++t) {
    if (pthread_create(&threads[t], NULL, LogLoop, (void*)(size_t)t) != 0) return 6;
  }
  if (!gJoin) {
    // Every thread is well into its loop when main returns.
    for (unsigned t = 0; t < kThreads; ++t) {
      while (atomic_load(&gCalls[t]) < kCallsBeforeExit) sched_yield();
    }
    return atomic_load(&gFailures) == 0 ? 0 : 7;
  }
  for (unsigned t = 0; t < kThreads; ++t) pthread_join(threads[t], NULL);
  if (atomic_load(&gFailures) != 0) return 7;
  return dlclose(library) == 0 ? 0 : 8;
}
