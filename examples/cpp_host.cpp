// A minimal C++ host: the log object held by a unique_ptr, console output,
// one formatted record.
#include <zunlogx/zunlogx.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct Release {
  void operator()(ILog* log) const { log->vtbl->Release(log); }
};
using LogObject = std::unique_ptr<ILog, Release>;

LogObject OpenLog() {
  static const ZunGuid kLogInterface = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  return LogObject(ZUN_SUCCEEDED(ZunGetLogObject(&kLogInterface, &log)) ? log : nullptr);
}

}  // namespace

int main() {
  const LogObject log = OpenLog();
  if (!log) {
    std::fprintf(stderr, "cpp_host: no log object\n");
    return 1;
  }
  // Records of every logger go to standard output.
  ZunResult rc = log->vtbl->ApplyConfigurationText(
      log.get(),
      u"[root]\nAddAppenders = out\n\n"
      u"[out]\nType = Appender\nAppenderType = Console\nTarget = System.out\nLayout = line\n\n"
      u"[line]\nType = Layout\nLayoutType = Standard\n");
  ZunLogger* logger = nullptr;
  if (ZUN_SUCCEEDED(rc)) rc = log->vtbl->GetLogger(log.get(), &logger, u"example.cpp");
  const std::u16string language = u"C++";
  if (ZUN_SUCCEEDED(rc) && ZunIsEnabled(logger, ZUN_SEVERITY_WARN)) {
    rc = ZunLogFormat(logger, ZUN_SEVERITY_WARN, u"cpp_host.cpp", __LINE__, ZUN_PROTECT_NONE,
                      u"hello from %s", language.c_str());
  }
  if (ZUN_SUCCEEDED(rc)) rc = log->vtbl->Flush(log.get());
  if (ZUN_FAILED(rc)) std::fprintf(stderr, "cpp_host: 0x%08X\n", rc);
  return ZUN_FAILED(rc) ? 1 : 0;
}
