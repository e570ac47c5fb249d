// zunlogx in the comparison. Log calls, IsEnabled and the asynchronous
// worker go through the public tables (ILog, ZunLogger, ZunDispatch) as a
// host makes them. The appender is set up through the library's own classes
// (this file is the only one of the harness that uses them), because
// configuration text cannot be applied through ILog yet; the sections below
// are what a configuration text would say.
//
// A sink the library does not have yet reports "not available": a
// size-rolled log while the appender factory knows no "RollingFile", the
// worker while StartAsyncWorker answers ZUN_RC_NOT_SUPPORTED.
#include <cstdarg>
#include <mutex>

#include "appenders/appender_factory.h"
#include "appenders/standard_layout.h"
#include "bench_harness.h"
#include "config/config_document.h"
#include "core/log_system.h"
#include "core/logger.h"
#include "core/logger_tree.h"
#include "zunlogx/zunlogx.h"

namespace {

using zbench::Status;

const ZunGuid kInterfaceId = ZUN_LOG_INTERFACE_ID_1;

ZunResult LogLine(ZunLogger* logger, int32_t severity, ...) {
  va_list args;
  va_start(args, severity);
  const ZunResult rc =
      logger->vtbl->LogFull(logger, severity, u"session %u of %s closed after %d ms", u"server/session.cpp",
                            zbench::kSourceLine, 7021, 55102, 3, 0, &args);
  va_end(args);
  return rc;
}

zun::ResultCode MakeSection(std::initializer_list<std::pair<const char16_t*, zun::WString>> keys,
                            zun::ConfigSectionRef* out) {
  zun::ResultCode rc = zun::ConfigSection::Create(u"bench", out);
  for (const auto& [name, value] : keys) {
    if (zun::Succeeded(rc)) rc = (*out)->SetValue(name, value);
  }
  return rc;
}

// Runs `change` under the log system lock, as configuration does.
template <typename Change>
zun::ResultCode UnderLogSystemLock(Change&& change) {
  zun::LogSystem* system = nullptr;
  zun::ResultCode rc = zun::AcquireLogSystem(&system);
  if (zun::Failed(rc)) return rc;
  {
    std::lock_guard<std::recursive_mutex> hold(system->Lock());
    rc = change(*system);
  }
  zun::ReleaseLogSystem(system);
  return rc;
}

class Zunlogx final : public zbench::Target {
 public:
  ~Zunlogx() override { Close(); }

  Status Open(const zbench::Setup& setup) override {
    if (setup.sink == zbench::Sink::kBuffered) return Status::kUnavailable;
    // The secondary client's loggers carry no key record line, so the files
    // hold the measured lines only.
    if (ZUN_FAILED(ZunGetLogObject(&kInterfaceId, &log_)) ||
        ZUN_FAILED(log_->vtbl->GetLoggerSecondary(log_, &logger_, u"Zun.Agent.Session"))) {
      return Status::kFailed;
    }
    dispatch_ = logger_->vtbl->GetDispatchInterface(logger_);
    const bool rolled = setup.sink == zbench::Sink::kRolled || setup.sink == zbench::Sink::kRolledDefault;
    const zun::ResultCode rc = AttachAppender(setup, rolled);
    if (rc == zun::RC_APPENDER_NOT_FOUND) return Status::kUnavailable;
    if (zun::Failed(rc)) return Status::kFailed;
    if (setup.sink == zbench::Sink::kAsync) {
      const ZunResult started = log_->vtbl->StartAsyncWorker(log_);
      if (started == ZUN_RC_NOT_SUPPORTED) return Status::kUnavailable;
      if (ZUN_FAILED(started)) return Status::kFailed;
      async_ = true;
    }
    return Status::kOk;
  }

  bool Log(std::uint32_t counter) override {
    return ZUN_SUCCEEDED(LogLine(logger_, ZUN_SEVERITY_WARN, counter, u"operator", zbench::kDuration));
  }
  bool DebugEnabled() override { return dispatch_->vtbl->IsEnabled(dispatch_, ZUN_SEVERITY_DEBUG) != 0; }
  // Loggers leave filtering to the host's IsEnabled; the appender's
  // "BreakSeverity" drops the record after it was built.
  bool LogDebug(std::uint32_t counter) override {
    return ZUN_SUCCEEDED(LogLine(logger_, ZUN_SEVERITY_DEBUG, counter, u"operator", zbench::kDuration));
  }

  // The worker blocks on the appender's lock in its first write, so later
  // records stay queued.
  bool CanHoldWriter() const override { return true; }
  bool HoldWriter(bool hold) override {
    if (appender_ == nullptr) return false;
    if (hold) {
      held_ = appender_->LockGuard();
    } else if (held_.owns_lock()) {
      held_.unlock();
    }
    return true;
  }

  bool Close() override {
    if (log_ == nullptr) return true;
    if (held_.owns_lock()) held_.unlock();
    if (async_) log_->vtbl->StopAsyncWorker(log_);
    async_ = false;
    bool ok = true;
    if (appender_ != nullptr) {
      ok = zun::Succeeded(UnderLogSystemLock([&](zun::LogSystem&) {
        zun::LoggerTree::ClearAppenders(zun::Logger::FromInterface(logger_));
        return zun::RC_OK;
      }));
      ok &= zun::Succeeded(appender_->Close());
      appender_.reset();
    }
    ZunReleaseLogObject(&kInterfaceId, log_);
    log_ = nullptr;
    return ok;
  }

 private:
  // The logger writes only to its own appender (not additive), at INFO; the
  // appender drops what is below INFO.
  zun::ResultCode AttachAppender(const zbench::Setup& setup, bool rolled) {
    return UnderLogSystemLock([&](zun::LogSystem& system) {
      zun::ConfigSectionRef loggerSection, appenderSection;
      zun::Logger* logger = zun::Logger::FromInterface(logger_);
      zun::ResultCode rc = MakeSection({{u"Additive", u"false"}, {u"Severity", u"INFO"}}, &loggerSection);
      if (zun::Succeeded(rc)) rc = logger->Configure(*loggerSection);
      if (zun::Succeeded(rc) && rolled) {
        rc = MakeSection({{u"AppenderType", u"RollingFile"},
                          {u"Size", zun::ToUtf16(std::to_string(zbench::kRolledFileBytes))},
                          {u"FilesCount", zun::ToUtf16(std::to_string(setup.files))},
                          {u"FileName", u"bench.log"},
                          {u"BreakSeverity", u"INFO"}},
                         &appenderSection);
      } else if (zun::Succeeded(rc)) {
        rc = MakeSection(
            {{u"AppenderType", u"File"}, {u"FileName", u"bench.log"}, {u"BreakSeverity", u"INFO"}},
            &appenderSection);
      }
      if (zun::Succeeded(rc)) {
        rc = zun::CreateAppender(rolled ? u"RollingFile" : u"File", system.Tree().Dispatcher(), u"bench",
                                 zun::ToUtf16(setup.folder), &appender_);
      }
      if (zun::Succeeded(rc)) rc = appender_->LoadConfig(*appenderSection);
      if (zun::Succeeded(rc)) {
        appender_->AttachLayout(&layout_);
        rc = zun::LoggerTree::AddAppender(logger, appender_.get());
      }
      return rc;
    });
  }

  ILog* log_ = nullptr;
  ZunLogger* logger_ = nullptr;
  ZunDispatch* dispatch_ = nullptr;
  zun::StandardLayout layout_{zun::WString(u"bench")};
  zun::AppenderRef appender_;
  std::unique_lock<std::recursive_mutex> held_;
  bool async_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  return zbench::RunMain(argc, argv, [] { return std::make_unique<Zunlogx>(); });
}
