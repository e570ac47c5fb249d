#pragma once
// The null appender: takes every record and writes nothing.
#include <memory>

#include "appenders/appender.h"

namespace zun {

// Configuration: "AppenderType" must be "Null"; "BreakSeverity" is not
// read. SaveConfig writes "AppenderType" = "Null", then the base part.
class NullAppender : public Appender {
 public:
  // `owner` is not owned and may be null. RC_OUT_OF_MEMORY.
  static ResultCode Create(AppenderOwner* owner, WStringView name,
                           std::unique_ptr<NullAppender>* out) noexcept;

  ResultCode LoadConfig(const ConfigSection& section) noexcept override;
  ResultCode SaveConfig(ConfigSection& section) noexcept override;

 protected:
  NullAppender(AppenderOwner* owner, WString name) noexcept : Appender(owner, std::move(name)) {}

  ResultCode Write(WStringView text) noexcept override;
};

}  // namespace zun
