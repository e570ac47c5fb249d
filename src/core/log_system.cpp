#include "core/log_system.h"

#include <new>

#include "config/log_locations.h"
#include "protect/session_key.h"
#include "records/protected_record.h"

namespace zun {

namespace {

std::mutex gSystemLock;
LogSystem* gSystem = nullptr;  // guarded by gSystemLock
std::uint32_t gHolders = 0;    // guarded by gSystemLock

}  // namespace

LogSystem::LogSystem() : tree_(&dispatcher_), keyRecordLine_(std::make_shared<const WString>()) {}

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
  return 0;
}

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
  return LoggerTree::FlushTree(&tree_.Root());
}

ResultCode LogSystem::Reset() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
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

}  // namespace zun
