#pragma once
// LogLibraryObject: the one class the factory makes. It carries three
// interfaces (ILogModule, ILogProvider, ILog) over one atomic reference
// count, and two log clients. Every live object is in the process-wide
// object list, which holds no references.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/result_code.h"
#include "boundary/log_client.h"
#include "zunlogx/zunlogx.h"

namespace zun {

struct LogLibraryObject;

// Each interface struct starts with the table pointer hosts see, followed by
// the way back to its object.
struct ModuleInterface : ILogModule {
  LogLibraryObject* owner;
};
struct ProviderInterface : ILogProvider {
  LogLibraryObject* owner;
};
struct LogInterface : ILog {
  LogLibraryObject* owner;
};

struct LogLibraryObject {
  LogLibraryObject();

  ModuleInterface module;
  ProviderInterface provider;
  LogInterface log;
  // Guards the read-back operations (configuration folder and text).
  std::mutex objectLock;
  std::atomic<LogClient*> primary{nullptr};
  std::atomic<LogClient*> secondary{nullptr};
  std::atomic<std::uint32_t> refCount{1};
};

inline LogLibraryObject* ObjectOf(ILog* log) { return static_cast<LogInterface*>(log)->owner; }
inline LogLibraryObject* ObjectOf(ILogProvider* p) { return static_cast<ProviderInterface*>(p)->owner; }
inline LogLibraryObject* ObjectOf(ILogModule* m) { return static_cast<ModuleInterface*>(m)->owner; }

inline constexpr ZunGuid kLogLibraryClassId = ZUN_LOG_LIBRARY_CLASS_ID;
inline constexpr ZunGuid kLogModuleClassId = ZUN_LOG_MODULE_CLASS_ID;
inline constexpr ZunGuid kLogInterfaceIds[4] = {ZUN_LOG_INTERFACE_ID_1, ZUN_LOG_INTERFACE_ID_2,
                                                ZUN_LOG_INTERFACE_ID_3, ZUN_LOG_INTERFACE_ID_4};
// Identifiers are compared as 16 raw bytes.
bool SameGuid(const ZunGuid& a, const ZunGuid& b);

// The factory behind GetZunObject.
ResultCode CreateZunObject(const ZunGuid& classId, void** out);
std::uint32_t AddRefObject(LogLibraryObject* object);
std::uint32_t ReleaseObject(LogLibraryObject* object);
// Removes the object from the list, destroys its clients and frees it.
void DestroyObject(LogLibraryObject* object);

// Process-wide state of the object list.
struct ObjectRegistry {
  // Calls `visit` for each live object in list order, holding the list lock;
  // `visit` must not create or destroy objects.
  static void ForEach(void (*visit)(LogLibraryObject* object, void* context), void* context);
  static std::size_t Count();
  static std::size_t Capacity();
  // Unload: destroys every object left, last created first, then sets the
  // shutdown flag.
  static void DestroyAllAtUnload();
  // Process exit: sets the shutdown flag and destroys nothing, since host
  // threads may still use the objects.
  static void ShutDownAtExit();
  static bool ShuttingDown();
  // Test seam: called with each object just before it is destroyed.
  static void SetDestroyObserver(void (*observer)(LogLibraryObject* object));
};

// The ILog table of every object.
extern const ILogVtbl kLogTable;

}  // namespace zun
