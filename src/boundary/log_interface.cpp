// The ILog table. Loggers, flushing and the asynchronous worker reach the
// process's log system; slots that need configuration loading answer
// RC_NOT_SUPPORTED until the log system provides it.
#include <cstring>

#include "boundary/log_library_object.h"

namespace zun {

namespace {

using ClientSlot = std::atomic<LogClient*> LogLibraryObject::*;

template <ClientSlot kSlot>
ResultCode WithClient(ILog* self, LogClient** client) {
  return EnsureLogClient(ObjectOf(self)->*kSlot, client);
}

// Operations whose log-system side is not available yet: they still create
// the client first, as every client operation does.
template <ClientSlot kSlot>
ResultCode NeedsLogSystem(ILog* self) {
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<kSlot>(self, &client);
  return Failed(rc) ? rc : RC_NOT_SUPPORTED;
}

template <ClientSlot kSlot, std::uint16_t kMask>
ResultCode GetLogger(ILog* self, ZunLogger** out, const char16_t* name) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  return client->system->GetLogger(kMask, ViewOf(name), out);
}

template <ClientSlot kSlot, std::uint16_t kMask>
ResultCode FindLogger(ILog* self, ZunLogger** out, const char16_t* name) {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  return client->system->FindLogger(kMask, ViewOf(name), out);
}

template <ClientSlot kSlot>
ResultCode Flush(ILog* self) {
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  return client->system->Flush();
}

template <ClientSlot kSlot>
std::uint8_t HasFolders(ILog* self) {
  LogLibraryObject* object = ObjectOf(self);
  LogClient* client = (object->*kSlot).load(std::memory_order_acquire);
  if (client == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(client->lock);
  return (!client->configFolder.empty() || !client->logFolder.empty()) ? 1 : 0;
}

template <ClientSlot kSlot>
ResultCode SetConfigurationFolder(ILog* self, const char16_t*) {
  return NeedsLogSystem<kSlot>(self);
}

template <ClientSlot kSlot>
ResultCode SetFolders(ILog* self, const char16_t*, const char16_t*) {
  return NeedsLogSystem<kSlot>(self);
}

// Copies `text` by the caller-buffer rule: the size with the zero is always
// reported; a capacity below the length copies nothing.
ResultCode CopyOut(const WString& text, char16_t* buffer, std::uint32_t capacity, std::uint32_t* size) {
  if (size == nullptr) return RC_INVALID_PARAMETER;
  *size = static_cast<std::uint32_t>(text.size() + 1);
  if (text.size() > capacity) return RC_INSUFFICIENT_BUFFER;
  if (buffer == nullptr) return RC_INVALID_PARAMETER;
  std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
  buffer[text.size()] = 0;
  return 0;
}

template <ClientSlot kSlot>
ResultCode GetConfigurationFolder(ILog* self, char16_t* buffer, std::uint32_t capacity, std::uint32_t* size) {
  LogLibraryObject* object = ObjectOf(self);
  std::lock_guard<std::mutex> hold(object->objectLock);
  LogClient* client = (object->*kSlot).load(std::memory_order_acquire);
  if (client == nullptr) return CopyOut(WString(), buffer, capacity, size);
  std::lock_guard<std::recursive_mutex> holdClient(client->lock);
  return CopyOut(client->configFolder, buffer, capacity, size);
}

std::uint8_t IsAvailable(ILog*) { return 1; }

template <ClientSlot kSlot>
ResultCode LoadConfigurationFile(ILog* self, const char16_t* file) {
  if (file == nullptr || file[0] == 0) return 0;
  return NeedsLogSystem<kSlot>(self);
}

template <ClientSlot kSlot>
ResultCode ApplyConfigurationText(ILog* self, const char16_t* text) {
  if (text == nullptr) return RC_INVALID_PARAMETER;
  return NeedsLogSystem<kSlot>(self);
}

template <ClientSlot kSlot>
ResultCode ApplyConfigurationTextOrNothing(ILog* self, const char16_t* text) {
  if (text == nullptr) return 0;
  return ApplyConfigurationText<kSlot>(self, text);
}

template <ClientSlot kSlot>
ResultCode SaveConfigurationFile(ILog* self, const char16_t*, std::uint8_t) {
  return NeedsLogSystem<kSlot>(self);
}

template <ClientSlot kSlot>
ResultCode GetConfigurationText(ILog* self, char16_t*, std::uint32_t, std::uint32_t* size) {
  if (size == nullptr) return RC_INVALID_PARAMETER;
  return NeedsLogSystem<kSlot>(self);
}

ResultCode Reserved(ILog*) { return RC_NOT_SUPPORTED; }

std::uint32_t Release(ILog* self) { return ReleaseObject(ObjectOf(self)); }

ResultCode StartAsyncWorker(ILog* self) {
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<&LogLibraryObject::primary>(self, &client);
  if (Failed(rc)) return rc;
  return client->system->StartAsyncWorker();
}

// Without a primary client this object never reached the log system.
void StopAsyncWorker(ILog* self) {
  LogClient* client = ObjectOf(self)->primary.load(std::memory_order_acquire);
  if (client != nullptr) client->system->StopAsyncWorker();
}

constexpr ClientSlot P = &LogLibraryObject::primary;
constexpr ClientSlot S = &LogLibraryObject::secondary;

}  // namespace

const ILogVtbl kLogTable = {
    GetLogger<P, kPrimaryClientMask>,
    FindLogger<P, kPrimaryClientMask>,
    HasFolders<P>,
    SetConfigurationFolder<P>,
    GetConfigurationFolder<P>,
    IsAvailable,
    LoadConfigurationFile<P>,
    ApplyConfigurationText<P>,
    SaveConfigurationFile<P>,
    GetConfigurationText<P>,
    NeedsLogSystem<P>,  // ResetConfiguration
    Reserved,
    GetLogger<S, kSecondaryClientMask>,
    FindLogger<S, kSecondaryClientMask>,
    HasFolders<S>,
    SetConfigurationFolder<S>,
    GetConfigurationFolder<S>,
    IsAvailable,
    LoadConfigurationFile<S>,
    ApplyConfigurationText<S>,
    SaveConfigurationFile<S>,
    GetConfigurationText<S>,
    NeedsLogSystem<S>,
    Reserved,
    LoadConfigurationFile<P>,
    ApplyConfigurationTextOrNothing<P>,
    LoadConfigurationFile<S>,
    ApplyConfigurationTextOrNothing<S>,
    Release,
    Flush<P>,
    Flush<S>,
    NeedsLogSystem<P>,  // UseStandardConfigurationFolder
    NeedsLogSystem<S>,
    Reserved,
    Reserved,
    SetFolders<P>,
    SetFolders<S>,
    StartAsyncWorker,
    StopAsyncWorker,
};

}  // namespace zun
