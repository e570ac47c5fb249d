#include "core/log_system.h"

#include <new>

#include "config/log_locations.h"
#include "core/config_loading.h"
#include "platform/process_events.h"
#include "protect/session_key.h"
#include "records/protected_record.h"

namespace zun {

namespace {

std::mutex gSystemLock;
LogSystem* gSystem = nullptr;     // guarded by gSystemLock
std::uint32_t gHolders = 0;       // guarded by gSystemLock
bool gForkHandlersAdded = false;  // guarded by gSystemLock

// The logger of the handler's own records, the overflow warning.
constexpr char16_t kHandlerLoggerName[] = u"ASYNCHANDLER";
constexpr std::uint16_t kHandlerClientMask = 1;

// A child must not inherit the lock from a thread that was making the log
// system. The lock comes before the handlers' locks, so this preparation is
// added after theirs and runs before it.
void LockSystemForFork() { gSystemLock.lock(); }
void UnlockSystemAfterFork() { gSystemLock.unlock(); }

}  // namespace

LogSystem::LogSystem() : keyRecordLine_(std::make_shared<const WString>()) {}

LogSystem::~LogSystem() {
  handler_.StopWorker();
  (void)Flush();
  dispatcher_.FinishCompressions();
}

ResultCode LogSystem::Start(WStringView configFolder, WStringView logFolder) {
  try {
    configFolder_.assign(configFolder);
    logFolder_.assign(logFolder);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  ResultCode rc = CreateSessionKey(sessionKey_);
  if (Failed(rc)) return rc;
  WString line;
  rc = MakeKeyRecordLine(line);
  if (Failed(rc)) return rc;
  try {
    keyRecordLine_ = std::make_shared<const WString>(std::move(line));
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  tree_.SetKeyRecordLine(keyRecordLine_);

  Logger* handlerLogger = nullptr;
  rc = tree_.GetOrCreate(&handlerLogger, kHandlerClientMask, kHandlerLoggerName);
  if (Failed(rc)) return rc;
  rc = handler_.Create([](void* self) { static_cast<LogSystem*>(self)->ReloadChangedConfiguration(); }, this,
                       handlerLogger);
  if (Failed(rc)) return rc;
  return ApplyDefaultConfiguration(*this);
}

void LogSystem::StopAtExit() {
  handler_.StopForGood();
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    (void)LoggerTree::RetireTree(&tree_.Root());
  }
  dispatcher_.FinishCompressions();
}

void LogSystem::ReloadChangedConfiguration() { (void)zun::ReloadChangedConfiguration(*this); }

ResultCode LogSystem::GetLogger(std::uint16_t clientMask, WStringView name, ZunLogger** out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  Logger* logger = nullptr;
  const ResultCode rc = tree_.GetOrCreate(&logger, clientMask, name);
  if (Failed(rc)) return rc;
  *out = logger->Interface();
  return 0;
}

ResultCode LogSystem::FindLogger(std::uint16_t clientMask, WStringView name, ZunLogger** out) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (tree_.Find(name) == nullptr) return 0;
  // The whole name resolves, so this only ORs the mask in.
  return GetLogger(clientMask, name, out);
}

ResultCode LogSystem::Flush() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  handler_.Drain();
  return LoggerTree::FlushTree(&tree_.Root());
}

ResultCode LogSystem::Reset() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  handler_.Drain();
  LoggerTree::FlushTree(&tree_.Root());
  // No logger refers to an appender once the tree is reset, and every
  // write in progress has left its logger's lock: the objects can go.
  LoggerTree::ResetTree(&tree_.Root());
  applied_.appenders.clear();
  applied_.layouts.clear();
  return ApplyDefaultConfiguration(*this);
}

ResultCode AcquireLogSystem(LogSystem** out) {
  std::lock_guard<std::mutex> hold(gSystemLock);
  if (!gForkHandlersAdded) {
    AsyncHandler::HandleForks();
    AddForkHandlers(LockSystemForFork, UnlockSystemAfterFork, UnlockSystemAfterFork);
    gForkHandlersAdded = true;
  }
  if (gSystem == nullptr) {
    LogSystem* system = nullptr;
    try {
      system = new LogSystem();
    } catch (const std::bad_alloc&) {
      return RC_OUT_OF_MEMORY;
    }
    WString configFolder;
    WString logFolder;
    ResultCode rc = SharedLogFolder(&configFolder);
    if (Succeeded(rc)) rc = StandardLogFolder(&logFolder);
    if (Succeeded(rc)) rc = system->Start(configFolder, logFolder);
    if (Failed(rc)) {
      delete system;
      return rc;
    }
    gSystem = system;
  }
  ++gHolders;
  *out = gSystem;
  return 0;
}

void ReleaseLogSystem(LogSystem* system) {
  std::lock_guard<std::mutex> hold(gSystemLock);
  if (system != nullptr && system == gSystem && gHolders > 0) --gHolders;
}

void ShutDownLogSystem() {
  std::lock_guard<std::mutex> hold(gSystemLock);
  delete gSystem;
  gSystem = nullptr;
  gHolders = 0;
}

void StopLogSystemAtExit() {
  LogSystem* system;
  {
    std::lock_guard<std::mutex> hold(gSystemLock);
    system = gSystem;
  }
  // At exit the log system is never freed, so it is used without the lock,
  // which a fork would want after the handler's locks.
  if (system != nullptr) system->StopAtExit();
}

}  // namespace zun
