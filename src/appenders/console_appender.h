#pragma once
// The console appender: each line, ended by a line feed, to standard output
// or standard error as UTF-8.
#include <memory>
#include <string>

#include "appenders/appender.h"

namespace zun {

// Configuration: "AppenderType" must be "Console"; then "BreakSeverity";
// then "Target": standard output only for exactly "System.out", standard
// error for any other value, standard output when absent. SaveConfig writes
// "AppenderType", "Target" ("System.out" or "System.err"), then the base
// part. A process without the chosen stream loses the lines silently.
class ConsoleAppender : public Appender {
 public:
  // `owner` is not owned and may be null. RC_OUT_OF_MEMORY.
  static ResultCode Create(AppenderOwner* owner, WStringView name,
                           std::unique_ptr<ConsoleAppender>* out) noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;

  bool UsesStandardError() const noexcept;

 protected:
  ConsoleAppender(AppenderOwner* owner, WString name) noexcept : Appender(owner, std::move(name)) {}

  ResultCode Write(WStringView text) noexcept override;

 private:
  // Guarded by the appender's lock.
  bool standardError_ = false;
  bool configured_ = false;
  std::string bytes_;  // the encoded line, reused from write to write
};

}  // namespace zun
