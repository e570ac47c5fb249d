/* A minimal C host: one log object, console output, one formatted record. */
#include <stdio.h>
#include <zunlogx/zunlogx.h>

int main(void) {
  static const ZunGuid kLogInterface = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = NULL;
  ZunLogger* logger = NULL;
  ZunResult rc = ZunGetLogObject(&kLogInterface, &log);
  if (ZUN_FAILED(rc)) {
    fprintf(stderr, "c_host: no log object: 0x%08X\n", rc);
    return 1;
  }
  /* Records of every logger go to standard output. */
  rc = log->vtbl->ApplyConfigurationText(
      log,
      u"[root]\nAddAppenders = out\n\n"
      u"[out]\nType = Appender\nAppenderType = Console\nTarget = System.out\n"
      u"Layout = line\n\n"
      u"[line]\nType = Layout\nLayoutType = Standard\n");
  if (ZUN_SUCCEEDED(rc)) rc = log->vtbl->GetLogger(log, &logger, u"example.c");
  if (ZUN_SUCCEEDED(rc) && ZunIsEnabled(logger, ZUN_SEVERITY_WARN)) {
    rc = ZunLogFormat(logger, ZUN_SEVERITY_WARN, u"c_host.c", __LINE__, ZUN_PROTECT_NONE,
                      u"hello from C: %d + %d = %d", 2, 3, 5);
  }
  if (ZUN_SUCCEEDED(rc)) rc = log->vtbl->Flush(log);
  if (ZUN_FAILED(rc)) fprintf(stderr, "c_host: 0x%08X\n", rc);
  log->vtbl->Release(log);
  return ZUN_FAILED(rc) ? 1 : 0;
}
