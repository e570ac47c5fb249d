// A host written in C against the public header only. It loads the shared
// object with dlopen, resolves the exports by name and goes through them the
// way a real host does, printing each step: objects, loggers,
// configuration through both clients (a file after the private
// file, a text, read-back, save, reset) and the reconfigure and reload
// exports, also as thread start routines. Its per-user and shared folders
// are moved into a new temporary folder first. Exit status 0 when every
// check held.
//
// usage: c_host [path/to/libzunlogx.so]
#define _XOPEN_SOURCE 700
#include <dlfcn.h>
#include <ftw.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "zunlogx/zunlogx.h"

static int passed, failed;

static void Check(int ok, const char* what) {
  printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  passed += ok != 0;
  failed += ok == 0;
}

static char base[256], logs[512];
static char16_t wide[768];

// ASCII text as UTF-16, in a buffer that the next call reuses.
static const char16_t* Wide(const char* text) {
  size_t i = 0;
  for (; text[i] != 0 && i + 1 < sizeof wide / sizeof wide[0]; ++i) wide[i] = (unsigned char)text[i];
  wide[i] = 0;
  return wide;
}

// `folder`/`name`, in a buffer that the next call reuses.
static const char* In(const char* folder, const char* name) {
  static char path[768];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  return path;
}

static void Write(const char* name, const char* text) {
  FILE* file = fopen(In(base, name), "wb");
  if (file == NULL) return;
  fputs(text, file);
  fclose(file);
}

// Whether the per-user log file `name` holds `needle`.
static int LogHolds(const char* name, const char* needle) {
  static char bytes[65536];
  FILE* file = fopen(In(logs, name), "rb");
  size_t n = file != NULL ? fread(bytes, 1, sizeof bytes - 1, file) : 0;
  if (file != NULL) fclose(file);
  bytes[n] = 0;
  return strstr(bytes + (n >= 3 ? 3 : 0), needle) != NULL;
}

// The lowest severity the logger lets through, one step above its threshold.
static int32_t Threshold(ILog* log, const char16_t* name) {
  ZunLogger* logger = NULL;
  log->vtbl->FindLogger(log, &logger, name);
  int32_t level = ZUN_SEVERITY_DEBUG;
  while (logger != NULL && level < ZUN_SEVERITY_FATAL && !ZunIsEnabled(logger, level + 1)) level += 100000;
  return logger != NULL ? level : -1;
}

static ZunResult OnThread(void* (*entry)(void*), void* parameter) {
  pthread_t thread;
  void* status = NULL;
  if (pthread_create(&thread, NULL, entry, parameter) != 0 || pthread_join(thread, &status) != 0) return 1;
  return (ZunResult)(uintptr_t)status;
}

static int Remove(const char* path, const struct stat* info, int flag, struct FTW* walk) {
  (void)info, (void)flag, (void)walk;
  return remove(path);
}

int main(int argc, char** argv) {
  const char* tmp = getenv("TMPDIR");
  snprintf(base, sizeof base, "%s/zunlogx-config-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  if (mkdtemp(base) == NULL) return 2;
  snprintf(logs, sizeof logs, "%s/state/Zun/log/tower17", base);
  setenv("XDG_STATE_HOME", In(base, "state"), 1);
  setenv("ALLUSERSPROFILE", In(base, "common"), 1);
  const char* folders[] = {"common", "common/Zun", "common/Zun/log", "common/Zun/log/tower17"};
  for (int i = 0; i < 4; ++i) mkdir(In(base, folders[i]), 0777);
  Write("common/Zun/log/tower17/privlog.cfg", "[h.private]\nAdditive = no\nSeverity = ERROR\n[h.only]\n");
  Write("host.cfg",
        "[h.private]\nAdditive = no\nSeverity = WARN\n[h.app]\nAddAppenders = hostFile\n"
        "[hostFile]\nType = Appender\nAppenderType = File\nFileName = host.log\n");

  const char* library_path = argc > 1 ? argv[1] : "libzunlogx.so";
  void* library = dlopen(library_path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", library_path, dlerror());
    return 2;
  }

  ZunGetZunObjectFn getZunObject = (ZunGetZunObjectFn)dlsym(library, "GetZunObject");
  ZunGetLogObjectFn getLogObject = (ZunGetLogObjectFn)dlsym(library, "ZunGetLogObject");
  ZunReleaseLogObjectFn releaseLogObject = (ZunReleaseLogObjectFn)dlsym(library, "ZunReleaseLogObject");
  ZunLogLibraryReconfigureFn reconfigure =
      (ZunLogLibraryReconfigureFn)dlsym(library, "ZunLogLibraryReconfigure");
  ZunLogLibraryReloadConfigFn reload =
      (ZunLogLibraryReloadConfigFn)dlsym(library, "ZunLogLibraryReloadConfig");
  void* (*remoteReconfigure)(void*) = (void* (*)(void*))dlsym(library, "ZunLogLibraryRemoteReconfigure");
  void* (*remoteReload)(void*) = (void* (*)(void*))dlsym(library, "ZunLogLibraryRemoteReloadConfig");
  const int resolved = getZunObject && getLogObject && releaseLogObject && reconfigure && reload &&
                       remoteReconfigure && remoteReload;
  Check(resolved, "all seven exports resolve");
  if (!resolved) return 1;

  // Which identifiers are refused and the counts behind them are the
  // boundary tests' business.
  void* out = NULL;
  Check(getZunObject((ZunGuid)ZUN_LOG_LIBRARY_CLASS_ID, &out) == 0 &&
            ((ILogProvider*)out)->vtbl->Release((ILogProvider*)out) == 0,
        "library class, passed by value, gives an ILogProvider that one Release destroys");

  // One object for the rest. A printf-style call that, with no
  // configuration at all, goes to common.log of the per-user folder.
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = NULL;
  if (getLogObject(&id, &log) != 0) return 1;
  const ILogVtbl* t = log->vtbl;
  ZunLogger *app = NULL, *text = NULL;
  t->GetLogger(log, &app, u"h.app");
  const ZunResult rc =
      ZunLogFormat(app, ZUN_SEVERITY_WARN, u"c_host.c", __LINE__, ZUN_PROTECT_NONE, u"%s %d", u"n =", 42);
  Check(rc == 0 && t->Flush(log) == 0 && LogHolds("common.log", "MSG:n = 42"),
        "the default configuration writes common.log");

  // The first client's folders: its log folder, once set, stays.
  Write("state/Zun/log/tower17/zun-1.tmp", "left by a roll");
  Check(t->SetConfigurationFolder(log, Wide(base)) == 0 && !LogHolds("zun-1.tmp", "roll") &&
            t->SetFolders(log, NULL, u"/elsewhere") == 0,
        "SetConfigurationFolder sets the standard log folder and clears its temporary files");
  Check(t->LoadConfigurationFile(log, u"host.cfg") == 0 && Threshold(log, u"h.only") == ZUN_SEVERITY_INFO &&
            Threshold(log, u"h.private") == ZUN_SEVERITY_WARN,
        "LoadConfigurationFile host.cfg after privlog.cfg, which it overrides section by section");
  ZunLogFormat(app, ZUN_SEVERITY_WARN, u"c_host.c", __LINE__, 0, u"%s %d", u"n =", 7);
  Check(t->Flush(log) == 0 && LogHolds("host.log", "MSG:n = 7"), "  its relative file is in the log folder");

  // The second client starts from "." and the standard log folder.
  Check(t->ApplyConfigurationTextSecondary(log,
                                           u"[secFile]\nType = Appender\nAppenderType = File\n"
                                           u"FileName = sec.log\n[h.text]\nAdditive = no\n"
                                           u"Severity = FATAL\nAddAppenders = secFile\n") == 0 &&
            Threshold(log, u"h.text") == ZUN_SEVERITY_FATAL,
        "ApplyConfigurationText through the second client");
  t->GetLogger(log, &text, u"h.text");
  ZunLogFormat(text, ZUN_SEVERITY_FATAL, u"c_host.c", __LINE__, 0, u"%s", u"second");
  char16_t folder[512] = {u'x'};
  uint32_t size = 0;
  Check(t->GetConfigurationFolderSecondary(log, folder, 0, &size) == ZUN_RC_INSUFFICIENT_BUFFER &&
            size == 2 && t->GetConfigurationFolderSecondary(log, folder, 1, &size) == 0 &&
            folder[0] == u'.' && t->FlushSecondary(log) == 0 && LogHolds("sec.log", "MSG:second"),
        "  in the folders \".\" and the standard log folder");
  Check(t->UseStandardConfigurationFolderSecondary(log) == 0 &&
            t->GetConfigurationFolderSecondary(log, folder, 511, &size) == 0 &&
            memcmp(folder, Wide(In(base, "common/Zun/log/tower17")), size * sizeof(char16_t)) == 0,
        "UseStandardConfigurationFolder: the shared folder");
  char16_t all[8192];
  Check(t->GetConfigurationText(log, all, 3, &size) == ZUN_RC_INSUFFICIENT_BUFFER && size > 4 &&
            size < 8192 && t->GetConfigurationText(log, all, size - 1, &size) == 0 && all[size - 1] == 0,
        "GetConfigurationText: the size it needs, then the text");
  Check(t->SaveConfigurationFileSecondary(log, Wide(In(base, "common/Zun/log/tower17/saved.cfg")), 0) == 0,
        "SaveConfigurationFile");

  Check(t->ResetConfiguration(log) == 0 && Threshold(log, u"h.text") == ZUN_SEVERITY_INFO &&
            ZunLogFormat(app, ZUN_SEVERITY_WARN, u"c_host.c", __LINE__, 0, u"%s", u"after reset") == 0 &&
            t->Flush(log) == 0 && LogHolds("common.log", "MSG:after reset") &&
            !LogHolds("host.log", "after reset"),
        "ResetConfiguration: loggers stay, at the root's INFO, and h.app writes to common.log again");

  Check(reconfigure(u"host.cfg", 0) == 0 && Threshold(log, u"h.private") == ZUN_SEVERITY_WARN,
        "ZunLogLibraryReconfigure loads host.cfg into the object");
  // Loaded files are applied in name order: host.cfg, then privlog.cfg.
  Check(t->ApplyConfigurationText(log, u"[h.private]\nAdditive = no\nSeverity = DEBUG\n") == 0 &&
            reload() == 0 && Threshold(log, u"h.private") == ZUN_SEVERITY_ERROR,
        "ZunLogLibraryReloadConfig applies the loaded files again");
  // 9 units "saved.cfg", selector 1: the second client, whose folder is the shared one.
  uint8_t block[8 + 18 + 4] = {9};
  for (int i = 0; i < 9; ++i) block[8 + 2 * i] = (uint8_t) "saved.cfg"[i];
  block[26] = 1;
  Check(OnThread(remoteReconfigure, block) == 0 && Threshold(log, u"h.text") == ZUN_SEVERITY_FATAL,
        "ZunLogLibraryRemoteReconfigure on a thread loads the saved file");
  Check(t->ApplyConfigurationText(log, u"[h.text]\nAdditive = no\nSeverity = DEBUG\n") == 0 &&
            OnThread(remoteReload, NULL) == 0 && Threshold(log, u"h.text") == ZUN_SEVERITY_FATAL,
        "ZunLogLibraryRemoteReloadConfig on a thread applies it again");

  Check(releaseLogObject(&id, log) == 0, "ZunReleaseLogObject");

  // An object left unreleased is destroyed when the library goes away.
  ILog* leftOver = NULL;
  getLogObject(&id, &leftOver);
  Check(dlclose(library) == 0, "dlclose with one object left");

  printf("%d passed, %d failed\n", passed, failed);
  nftw(base, Remove, 16, FTW_DEPTH | FTW_PHYS);
  return failed == 0 ? 0 : 1;
}
