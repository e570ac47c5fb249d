/*
 * A host written in C against the public header only. It loads the shared
 * object with dlopen, resolves the exports by name and goes through them the
 * way a real host does, printing each step. Exit status 0 when every check
 * held.
 *
 * usage: c_host [path/to/libzunlogx.so]
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_check.h"
#include "zunlogx/zunlogx.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "libzunlogx.so";
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 2;
  }
  printf("loaded %s\n", path);

  ZunGetZunObjectFn getZunObject = (ZunGetZunObjectFn)dlsym(library, "GetZunObject");
  ZunGetLogObjectFn getLogObject = (ZunGetLogObjectFn)dlsym(library, "ZunGetLogObject");
  ZunReleaseLogObjectFn releaseLogObject = (ZunReleaseLogObjectFn)dlsym(library, "ZunReleaseLogObject");
  ZunLogLibraryReconfigureFn reconfigure =
      (ZunLogLibraryReconfigureFn)dlsym(library, "ZunLogLibraryReconfigure");
  ZunLogLibraryReloadConfigFn reload =
      (ZunLogLibraryReloadConfigFn)dlsym(library, "ZunLogLibraryReloadConfig");
  Check(getZunObject && getLogObject && releaseLogObject && reconfigure && reload &&
            dlsym(library, "ZunLogLibraryRemoteReconfigure") &&
            dlsym(library, "ZunLogLibraryRemoteReloadConfig"),
        "all seven exports resolve");
  if (!getZunObject || !getLogObject || !releaseLogObject) return 1;

  const ZunGuid ids[4] = {ZUN_LOG_INTERFACE_ID_1, ZUN_LOG_INTERFACE_ID_2, ZUN_LOG_INTERFACE_ID_3,
                          ZUN_LOG_INTERFACE_ID_4};
  for (int i = 0; i < 4; ++i) {
    ILog* log = NULL;
    ZunResult rc = getLogObject(&ids[i], &log);
    char what[96];
    snprintf(what, sizeof what, "interface identifier %d gives an ILog (0x%08X)", i + 1, rc);
    Check(rc == 0 && log != NULL, what);
    if (log == NULL) continue;
    Check(log->vtbl->IsAvailable(log) == 1, "  IsAvailable answers 1");
    Check(log->vtbl->Reserved11(log) == ZUN_RC_NOT_SUPPORTED &&
              log->vtbl->Reserved34(log) == ZUN_RC_NOT_SUPPORTED,
          "  reserved slots answer 0xE0010054");
    Check(releaseLogObject(&ids[i], log) == 0, "  ZunReleaseLogObject returns 0");
  }

  ZunGuid fifth = ZUN_LOG_INTERFACE_ID_4;
  fifth.data1 = 0x5E0F74B7u;
  ILog* untouched = (ILog*)(void*)&fifth;
  ZunResult rc = getLogObject(&fifth, &untouched);
  Check(rc == 0xE0010054u && untouched == (ILog*)(void*)&fifth,
        "a fifth identifier gives 0xE0010054 and leaves the out pointer");

  ZunGuid libraryClass = ZUN_LOG_LIBRARY_CLASS_ID;
  ZunGuid moduleClass = ZUN_LOG_MODULE_CLASS_ID;
  void* out = NULL;
  rc = getZunObject(moduleClass, &out);
  Check(rc == 0 && out != NULL, "module class gives an ILogModule");
  if (out != NULL) {
    ILogModule* module = (ILogModule*)out;
    Check(module->vtbl->AddRef(module) == 2, "  ILogModule AddRef counts 2");
    ILogProvider* provider = module->vtbl->GetProvider(module);
    Check(provider != NULL && provider->vtbl->AddRef(provider) == 4,
          "  GetProvider adds one, AddRef counts 4");
    ILog* log = provider->vtbl->GetLog(provider);
    Check(log != NULL && log->vtbl->Release(log) == 3, "  GetLog adds none, ILog Release counts 3");
    Check(provider->vtbl->Release(provider) == 2, "  ILogProvider Release counts 2");
    ZunReleaseFunction release = module->vtbl->GetReleaseFunction(module);
    release(provider);
    Check(module->vtbl->Release(module) == 0, "  release function and last Release destroy it");
  }
  rc = getZunObject(libraryClass, &out);
  Check(rc == 0 && out != NULL, "library class gives an ILogProvider");
  if (rc == 0) {
    ILogProvider* provider = (ILogProvider*)out;
    Check(provider->vtbl->Release(provider) == 0, "  one Release destroys it");
  }
  ZunGuid unknownClass = ZUN_LOG_MODULE_CLASS_ID;
  unknownClass.data2 = 0x09BF;
  out = NULL;
  Check(getZunObject(unknownClass, &out) == 0xE0010054u && out == NULL, "an unknown class gives 0xE0010054");
  Check(reconfigure(u"", 0) == 0, "ZunLogLibraryReconfigure with an empty name returns 0");
  Check(reload() == 0, "ZunLogLibraryReloadConfig with nothing loaded returns 0");

  /* Loggers: a dotted name, the threshold rule, a printf-style call. */
  {
    ILog* log = NULL;
    getLogObject(&ids[0], &log);
    ZunLogger* logger = NULL;
    rc = log ? log->vtbl->GetLogger(log, &logger, u"host.c") : ZUN_RC_INVALID_PARAMETER;
    Check(rc == 0 && logger != NULL, "GetLogger makes host.c");
    if (logger != NULL) {
      const char16_t* name = logger->vtbl->GetName(logger);
      Check(name != NULL && name[0] == u'h' && name[4] == u'.' && name[6] == 0, "  its name is host.c");
      Check(ZunIsEnabled(logger, ZUN_SEVERITY_WARN) == 1 && ZunIsEnabled(logger, ZUN_SEVERITY_INFO) == 0,
            "  enabled strictly above INFO");
      rc = ZunLogFormat(logger, ZUN_SEVERITY_WARN, u"c_host.c", __LINE__, ZUN_PROTECT_NONE, u"%s %d", u"n =",
                        42);
      Check(rc == 0, "  LogFull with a printf-style message returns 0");
    }
    if (log) releaseLogObject(&ids[0], log);
  }

  /* An object left unreleased is destroyed when the library goes away. */
  ILog* leftOver = NULL;
  getLogObject(&ids[0], &leftOver);
  Check(dlclose(library) == 0, "dlclose with one object left");

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
