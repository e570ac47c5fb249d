#include "boundary/log_library_object.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/lasting.h"
#include "boundary/object_list.h"

namespace zun {

namespace {

// The object list and its lock. The list holds no references. The unload
// code walks it after exit() has run the static destructors.
std::mutex gListLock;
Lasting<PointerArray> gObjects;  // guarded by gListLock
std::atomic<bool> gShuttingDown{false};
std::atomic<void (*)(LogLibraryObject*)> gDestroyObserver{nullptr};

void ModuleDestroy(ILogModule* self, std::uint8_t freeMemory);
std::uint32_t ModuleAddRef(ILogModule* self) { return AddRefObject(ObjectOf(self)); }
std::uint32_t ModuleRelease(ILogModule* self) { return ReleaseObject(ObjectOf(self)); }
ILogProvider* ModuleGetProvider(ILogModule* self) {
  LogLibraryObject* object = ObjectOf(self);
  AddRefObject(object);
  return &object->provider;
}

void ReleaseAnyInterface(void* anyInterface);
ZunReleaseFunction ModuleGetReleaseFunction(ILogModule*) { return ReleaseAnyInterface; }

void ProviderDestroy(ILogProvider* self, std::uint8_t freeMemory) {
  ModuleDestroy(&ObjectOf(self)->module, freeMemory);
}
std::uint32_t ProviderAddRef(ILogProvider* self) { return AddRefObject(ObjectOf(self)); }
std::uint32_t ProviderRelease(ILogProvider* self) { return ReleaseObject(ObjectOf(self)); }
ILog* ProviderGetLog(ILogProvider* self) { return &ObjectOf(self)->log; }

const ILogModuleVtbl kModuleTable = {ModuleDestroy, ModuleAddRef, ModuleRelease, ModuleGetProvider,
                                     ModuleGetReleaseFunction};
const ILogProviderVtbl kProviderTable = {ProviderDestroy, ProviderAddRef, ProviderRelease, ProviderGetLog};

// Any interface of an object starts with its table pointer, which tells
// which of the three it is.
void ReleaseAnyInterface(void* anyInterface) {
  if (anyInterface == nullptr || gShuttingDown.load(std::memory_order_acquire)) return;
  const void* table = *static_cast<const void* const*>(anyInterface);
  if (table == &kLogTable) {
    ReleaseObject(ObjectOf(static_cast<ILog*>(anyInterface)));
  } else if (table == &kProviderTable) {
    ReleaseObject(ObjectOf(static_cast<ILogProvider*>(anyInterface)));
  } else if (table == &kModuleTable) {
    ReleaseObject(ObjectOf(static_cast<ILogModule*>(anyInterface)));
  }
}
void DestroyClient(std::atomic<LogClient*>& slot) {
  delete slot.exchange(nullptr, std::memory_order_acq_rel);
}

void DestroyUnlisted(LogLibraryObject* object, bool freeMemory) {
  if (auto observer = gDestroyObserver.load(std::memory_order_acquire)) observer(object);
  DestroyClient(object->secondary);
  DestroyClient(object->primary);
  if (freeMemory) {
    delete object;
  } else {
    object->~LogLibraryObject();
  }
}

void Unlist(LogLibraryObject* object) {
  std::lock_guard<std::mutex> hold(gListLock);
  gObjects->Remove(object);
}

void ModuleDestroy(ILogModule* self, std::uint8_t freeMemory) {
  LogLibraryObject* object = ObjectOf(self);
  Unlist(object);
  DestroyUnlisted(object, freeMemory != 0);
}

}  // namespace

LogLibraryObject::LogLibraryObject() {
  module.vtbl = &kModuleTable;
  module.owner = this;
  provider.vtbl = &kProviderTable;
  provider.owner = this;
  log.vtbl = &kLogTable;
  log.owner = this;
}

bool SameGuid(const ZunGuid& a, const ZunGuid& b) {
  static_assert(sizeof(ZunGuid) == 16);
  return std::memcmp(&a, &b, sizeof(ZunGuid)) == 0;
}

ResultCode CreateZunObject(const ZunGuid& classId, void** out) {
  const bool library = SameGuid(classId, kLogLibraryClassId);
  if (!library && !SameGuid(classId, kLogModuleClassId)) return RC_NOT_SUPPORTED;
  if (out == nullptr) return RC_INVALID_PARAMETER;

  auto* object = new (std::nothrow) LogLibraryObject();
  if (object == nullptr) return RC_OUT_OF_MEMORY;
  LogClient* client = nullptr;
  ResultCode rc = EnsureLogClient(object->primary, &client);
  if (Succeeded(rc)) rc = EnsureLogClient(object->secondary, &client);
  if (Succeeded(rc)) {
    std::lock_guard<std::mutex> hold(gListLock);
    rc = gObjects->PushBack(object);
  }
  if (Failed(rc)) {
    DestroyUnlisted(object, true);
    return rc;
  }
  *out = library ? static_cast<void*>(static_cast<ILogProvider*>(&object->provider))
                 : static_cast<void*>(static_cast<ILogModule*>(&object->module));
  return 0;
}

std::uint32_t AddRefObject(LogLibraryObject* object) {
  return object->refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t ReleaseObject(LogLibraryObject* object) {
  const std::uint32_t count = object->refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) DestroyObject(object);
  return count;
}

void DestroyObject(LogLibraryObject* object) { ModuleDestroy(&object->module, 1); }

void ObjectRegistry::ForEach(void (*visit)(LogLibraryObject*, void*), void* context) {
  std::lock_guard<std::mutex> hold(gListLock);
  for (std::size_t i = 0; i < gObjects->Size(); ++i)
    visit(static_cast<LogLibraryObject*>((*gObjects)[i]), context);
}

std::size_t ObjectRegistry::Count() {
  std::lock_guard<std::mutex> hold(gListLock);
  return gObjects->Size();
}

std::size_t ObjectRegistry::Capacity() {
  std::lock_guard<std::mutex> hold(gListLock);
  return gObjects->Capacity();
}

void ObjectRegistry::DestroyAllAtUnload() {
  // No other thread may call into the library now, so the list is read
  // without its lock; each destruction removes its own entry.
  while (gObjects->Size() != 0) DestroyObject(static_cast<LogLibraryObject*>(gObjects->Back()));
  gShuttingDown.store(true, std::memory_order_release);
}

void ObjectRegistry::ShutDownAtExit() { gShuttingDown.store(true, std::memory_order_release); }

bool ObjectRegistry::ShuttingDown() { return gShuttingDown.load(std::memory_order_acquire); }

void ObjectRegistry::SetDestroyObserver(void (*observer)(LogLibraryObject*)) {
  gDestroyObserver.store(observer, std::memory_order_release);
}

}  // namespace zun
