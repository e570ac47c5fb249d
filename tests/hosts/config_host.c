/*
 * A host written in C that configures the library through the public header
 * only: a file loaded after the private file, a text through the second
 * client, the configuration read back and saved, a reset to the default, and
 * the reconfigure and reload exports called directly and as thread start
 * routines. Its per-user and shared folders are moved into a new temporary
 * folder before the library is loaded. Exit status 0 when every check held.
 *
 * usage: config_host path/to/libzunlogx.so
 */
#define _XOPEN_SOURCE 700
#include <dlfcn.h>
#include <ftw.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "host_check.h"
#include "zunlogx/zunlogx.h"

static char base[256], logs[512];
static ILog* object;

static void Write(const char* name, const char* text) {
  char path[768];
  snprintf(path, sizeof path, "%s/%s", base, name);
  FILE* file = fopen(path, "wb");
  if (file == NULL) return;
  fputs(text, file);
  fclose(file);
}

/* Whether the per-user log file `name` holds `needle`. */
static int LogHolds(const char* name, const char* needle) {
  static char bytes[65536];
  char path[768];
  snprintf(path, sizeof path, "%s/%s", logs, name);
  FILE* file = fopen(path, "rb");
  size_t n = file != NULL ? fread(bytes, 1, sizeof bytes - 1, file) : 0;
  if (file != NULL) fclose(file);
  bytes[n] = 0;
  return strstr(bytes + (n >= 3 ? 3 : 0), needle) != NULL;
}

/* The lowest severity the logger lets through, one step above its threshold. */
static int32_t Threshold(const char16_t* name) {
  ZunLogger* logger = NULL;
  object->vtbl->FindLogger(object, &logger, name);
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
  char path[768];
  snprintf(base, sizeof base, "%s/zunlogx-config-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  if (mkdtemp(base) == NULL) return 2;
  snprintf(logs, sizeof logs, "%s/state/Zun/log/tower17", base);
  snprintf(path, sizeof path, "%s/state", base);
  setenv("XDG_STATE_HOME", path, 1);
  snprintf(path, sizeof path, "%s/common", base);
  setenv("ALLUSERSPROFILE", path, 1);
  const char* folders[] = {"common", "common/Zun", "common/Zun/log", "common/Zun/log/tower17"};
  for (int i = 0; i < 4; ++i) snprintf(path, sizeof path, "%s/%s", base, folders[i]), mkdir(path, 0777);
  Write("common/Zun/log/tower17/privlog.cfg", "[h.private]\nAdditive = no\nSeverity = ERROR\n[h.only]\n");
  Write("host.cfg",
        "[h.private]\nAdditive = no\nSeverity = WARN\n"
        "[hostFile]\nType = Appender\nAppenderType = File\nFileName = host.log\n[h.app]\nAddAppenders = "
        "hostFile\n");

  void* library = dlopen(argc > 1 ? argv[1] : "libzunlogx.so", RTLD_NOW | RTLD_LOCAL);
  ZunGetLogObjectFn getLogObject = library ? (ZunGetLogObjectFn)dlsym(library, "ZunGetLogObject") : NULL;
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  if (getLogObject == NULL || getLogObject(&id, &object) != 0) return 2;
  ILog* log = object;
  const ILogVtbl* t = log->vtbl;

  /* With no configuration at all, the root writes to common.log. */
  ZunLogger *root = NULL, *app = NULL;
  t->GetLogger(log, &root, NULL);
  t->GetLogger(log, &app, u"h.app");
  Check(Threshold(u"root") == ZUN_SEVERITY_INFO, "the default root threshold is INFO");
  ZunLogFormat(app, ZUN_SEVERITY_WARN, u"config_host.c", __LINE__, 0, u"%s", u"by default");
  Check(t->Flush(log) == 0 && LogHolds("common.log", "MSG:by default"), "  records reach common.log");

  snprintf(path, sizeof path, "%s", base);
  char16_t wideBase[256] = {0};
  for (size_t i = 0; path[i] != 0 && i < 255; ++i) wideBase[i] = (unsigned char)path[i];
  Check(t->SetConfigurationFolder(log, wideBase) == 0 && t->LoadConfigurationFile(log, u"host.cfg") == 0,
        "LoadConfigurationFile host.cfg from the configuration folder");
  Check(Threshold(u"h.only") == ZUN_SEVERITY_INFO && Threshold(u"h.private") == ZUN_SEVERITY_WARN,
        "  after privlog.cfg, which it overrides section by section");
  ZunLogFormat(app, ZUN_SEVERITY_WARN, u"config_host.c", __LINE__, 0, u"%s %d", u"n =", 7);
  Check(t->Flush(log) == 0 && LogHolds("host.log", "MSG:n = 7"), "  its relative file is in the log folder");

  Check(t->SetConfigurationFolderSecondary(log, wideBase) == 0 &&
            t->ApplyConfigurationTextSecondary(log, u"[h.text]\nAdditive = no\nSeverity = FATAL\n") == 0 &&
            Threshold(u"h.text") == ZUN_SEVERITY_FATAL,
        "ApplyConfigurationText through the second client");
  uint32_t size = 0;
  char16_t text[8192];
  Check(t->GetConfigurationText(log, text, 3, &size) == ZUN_RC_INSUFFICIENT_BUFFER && size > 4 &&
            size < 8192 && t->GetConfigurationText(log, text, size - 1, &size) == 0 && text[size - 1] == 0,
        "GetConfigurationText: the size it needs, then the text");
  snprintf(path, sizeof path, "%s/saved.cfg", base);
  char16_t widePath[768] = {0};
  for (size_t i = 0; path[i] != 0; ++i) widePath[i] = (unsigned char)path[i];
  Check(t->SaveConfigurationFileSecondary(log, widePath, 0) == 0, "SaveConfigurationFile");

  Check(t->ResetConfiguration(log) == 0 && Threshold(u"h.text") == ZUN_SEVERITY_INFO,
        "ResetConfiguration: loggers stay, at the root's INFO");
  ZunLogFormat(app, ZUN_SEVERITY_WARN, u"config_host.c", __LINE__, 0, u"%s", u"after reset");
  Check(
      t->Flush(log) == 0 && LogHolds("common.log", "MSG:after reset") && !LogHolds("host.log", "after reset"),
      "  h.app writes to common.log again");

  ZunLogLibraryReconfigureFn reconfigure =
      (ZunLogLibraryReconfigureFn)dlsym(library, "ZunLogLibraryReconfigure");
  ZunLogLibraryReloadConfigFn reload =
      (ZunLogLibraryReloadConfigFn)dlsym(library, "ZunLogLibraryReloadConfig");
  void* (*remoteReconfigure)(void*) = (void* (*)(void*))dlsym(library, "ZunLogLibraryRemoteReconfigure");
  void* (*remoteReload)(void*) = (void* (*)(void*))dlsym(library, "ZunLogLibraryRemoteReloadConfig");
  Check(reconfigure(u"host.cfg", 0) == 0 && Threshold(u"h.private") == ZUN_SEVERITY_WARN,
        "ZunLogLibraryReconfigure loads host.cfg into the object");
  /* Loaded files are applied in name order: host.cfg, then privlog.cfg. */
  Check(t->ApplyConfigurationText(log, u"[h.private]\nAdditive = no\nSeverity = DEBUG\n") == 0 &&
            reload() == 0 && Threshold(u"h.private") == ZUN_SEVERITY_ERROR,
        "ZunLogLibraryReloadConfig applies the loaded files again");
  /* 9 units "saved.cfg", selector 1: the second client. */
  uint8_t block[8 + 18 + 4] = {9};
  for (int i = 0; i < 9; ++i) block[8 + 2 * i] = (uint8_t) "saved.cfg"[i];
  block[26] = 1;
  Check(OnThread(remoteReconfigure, block) == 0 && Threshold(u"h.text") == ZUN_SEVERITY_FATAL,
        "ZunLogLibraryRemoteReconfigure on a thread loads the saved file");
  Check(t->ApplyConfigurationText(log, u"[h.text]\nAdditive = no\nSeverity = DEBUG\n") == 0 &&
            OnThread(remoteReload, NULL) == 0 && Threshold(u"h.text") == ZUN_SEVERITY_FATAL,
        "ZunLogLibraryRemoteReloadConfig on a thread applies it again");

  log->vtbl->Release(log);
  Check(dlclose(library) == 0, "dlclose");
  printf("%d passed, %d failed\n", passed, failed);
  nftw(base, Remove, 16, FTW_DEPTH | FTW_PHYS);
  return failed == 0 ? 0 : 1;
}
