#pragma once
// The tool's hold on the library: one log object, released at the end, and
// the names of result codes for messages.
#include <string>
#include <vector>

#include "zunlogx/zunlogx.h"

namespace zunlog {

// "ZUN_RC_FILE_NOT_FOUND (0xE001003D)"; codes the header does not name
// appear by number.
std::string DescribeResult(ZunResult rc);

class LogObject {
 public:
  LogObject() = default;
  ~LogObject();
  LogObject(const LogObject&) = delete;
  LogObject& operator=(const LogObject&) = delete;

  // Makes the object; the first object of a process starts its log system
  // with the built-in default configuration. A failure is reported on
  // standard error under `verb`.
  ZunResult Open(const char* verb);
  ILog* Get() const { return log_; }

  // Loads each file in turn; the first failure is reported on standard
  // error under `verb` and returned.
  ZunResult LoadFiles(const std::vector<std::string>& files, const char* verb);
  // The configuration in effect, as the library exports it.
  ZunResult ConfigurationText(std::u16string* out) const;
  ZunResult ConfigurationFolder(std::u16string* out) const;

 private:
  ILog* log_ = nullptr;
};

}  // namespace zunlog
