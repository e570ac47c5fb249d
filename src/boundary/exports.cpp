// The seven exports. Each is an exception firewall: nothing thrown inside the
// library crosses into a host.
#include <pthread.h>

#include <cstdint>
#include <new>

#include "boundary/log_library_object.h"
#include "boundary/reconfigure_block.h"
#include "core/log_system.h"

using namespace zun;

namespace {

template <typename Body>
ResultCode Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  } catch (...) {
    return RC_INVALID_OPERATION;
  }
}

struct ReconfigureCall {
  const char16_t* file;
  std::uint32_t selector;
};

void LoadIntoObject(LogLibraryObject* object, void* context) {
  const auto* call = static_cast<const ReconfigureCall*>(context);
  ILog* log = &object->log;
  // Results are not examined: one object's failure must not stop the rest.
  if (call->selector == 0) {
    log->vtbl->LoadConfigurationFile2(log, call->file);
  } else if (call->selector == 1) {
    log->vtbl->LoadConfigurationFile2Secondary(log, call->file);
  }
}

ResultCode ReloadLoadedFiles() {
  LogSystem* system = nullptr;
  ResultCode rc = AcquireLogSystem(&system);
  if (Failed(rc)) return rc;
  rc = ReloadConfiguration(*system);
  ReleaseLogSystem(system);
  return rc;
}

[[noreturn]] void EndThread(ResultCode rc) {
  pthread_exit(reinterpret_cast<void*>(static_cast<std::uintptr_t>(rc)));
}

}  // namespace

extern "C" {

ZUN_EXPORT ZunResult GetZunObject(ZunGuid classId, void** out) {
  return Guarded([&] { return CreateZunObject(classId, out); });
}

ZUN_EXPORT ZunResult ZunGetLogObject(const ZunGuid* iid, ILog** out) {
  return Guarded([&]() -> ResultCode {
    if (iid == nullptr) return RC_NOT_SUPPORTED;
    bool known = false;
    for (const ZunGuid& id : kLogInterfaceIds) known = known || SameGuid(*iid, id);
    if (!known) return RC_NOT_SUPPORTED;
    if (out == nullptr) return RC_INVALID_PARAMETER;
    void* provider = nullptr;
    const ResultCode rc = CreateZunObject(kLogLibraryClassId, &provider);
    if (Failed(rc)) return rc;
    auto* p = static_cast<ILogProvider*>(provider);
    *out = p->vtbl->GetLog(p);
    return 0;
  });
}

ZUN_EXPORT ZunResult ZunReleaseLogObject(const ZunGuid*, ILog* log) {
  if (ObjectRegistry::ShuttingDown() || log == nullptr) return 0;
  return Guarded([&]() -> ResultCode {
    ReleaseObject(ObjectOf(log));
    return 0;
  });
}

ZUN_EXPORT ZunResult ZunLogLibraryReconfigure(const char16_t* file, std::uint32_t selector) {
  Guarded([&]() -> ResultCode {
    ReconfigureCall call{file, selector};
    ObjectRegistry::ForEach(LoadIntoObject, &call);
    return 0;
  });
  return 0;
}

ZUN_EXPORT void* ZunLogLibraryRemoteReconfigure(void* block) {
  const ResultCode rc = Guarded([&]() -> ResultCode {
    WString name;
    std::uint32_t selector = 0;
    const ResultCode decoded = DecodeReconfigureBlock(block, SIZE_MAX, &name, &selector);
    if (Failed(decoded)) return decoded;
    return ZunLogLibraryReconfigure(name.c_str(), selector);
  });
  EndThread(rc);
}

ZUN_EXPORT ZunResult ZunLogLibraryReloadConfig(void) { return Guarded(ReloadLoadedFiles); }

ZUN_EXPORT void* ZunLogLibraryRemoteReloadConfig(void*) { EndThread(ZunLogLibraryReloadConfig()); }

}  // extern "C"
