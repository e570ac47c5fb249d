// The ILog table. Loggers, flushing and the asynchronous worker reach the
// process's log system; the configuration slots load and apply through it
// with the client's folders.
#include <cstring>
#include <new>

#include "boundary/log_library_object.h"
#include "config/config_writer.h"
#include "config/log_locations.h"
#include "core/config_loading.h"

namespace zun {

namespace {

using ClientSlot = std::atomic<LogClient*> LogLibraryObject::*;

template <ClientSlot kSlot>
ResultCode WithClient(ILog* self, LogClient** client) {
  return EnsureLogClient(ObjectOf(self)->*kSlot, client);
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

// A null configuration folder keeps the client's; a null or empty log
// folder stands for the standard one. The log folder is set only once, and
// setting it deletes the temporary files a roll left there.
template <ClientSlot kSlot>
ResultCode SetFolders(ILog* self, const char16_t* configFolder, const char16_t* logFolder) {
  WString chosenLogFolder(ViewOf(logFolder));
  ResultCode rc = chosenLogFolder.empty() ? StandardLogFolder(&chosenLogFolder) : RC_OK;
  if (Failed(rc)) return rc;
  LogClient* client = nullptr;
  rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  std::lock_guard<std::recursive_mutex> hold(client->lock);
  if (configFolder != nullptr) client->configFolder.assign(configFolder);
  if (client->logFolder.empty()) {
    client->logFolder = std::move(chosenLogFolder);
    DeleteTemporaryFiles(client->logFolder);
  }
  return 0;
}

template <ClientSlot kSlot>
ResultCode SetConfigurationFolder(ILog* self, const char16_t* folder) {
  return SetFolders<kSlot>(self, folder, nullptr);
}

// The client, locked, with its folders set: a client that has no log folder
// yet reads relative names from the current folder and logs into the
// standard one.
template <ClientSlot kSlot>
ResultCode LockClientWithFolders(ILog* self, LogClient** client,
                                 std::unique_lock<std::recursive_mutex>* hold) {
  ResultCode rc = WithClient<kSlot>(self, client);
  if (Failed(rc)) return rc;
  *hold = std::unique_lock<std::recursive_mutex>((*client)->lock);
  if ((*client)->logFolder.empty()) rc = SetFolders<kSlot>(self, u".", nullptr);
  return rc;
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
  LogClient* client = nullptr;
  std::unique_lock<std::recursive_mutex> hold;
  const ResultCode rc = LockClientWithFolders<kSlot>(self, &client, &hold);
  if (Failed(rc)) return rc;
  const WString configFolder = client->configFolder;
  const WString logFolder = client->logFolder;
  LoadPrivateConfiguration(*client->system);
  return LoadSourceFile(*client->system, file, configFolder, logFolder);
}

template <ClientSlot kSlot>
ResultCode ApplyConfigurationText(ILog* self, const char16_t* text) {
  if (text == nullptr) return RC_INVALID_PARAMETER;
  LogClient* client = nullptr;
  std::unique_lock<std::recursive_mutex> hold;
  const ResultCode rc = LockClientWithFolders<kSlot>(self, &client, &hold);
  if (Failed(rc)) return rc;
  return ApplySourceText(*client->system, text, client->logFolder);
}

template <ClientSlot kSlot>
ResultCode ApplyConfigurationTextOrNothing(ILog* self, const char16_t* text) {
  if (text == nullptr) return 0;
  return ApplyConfigurationText<kSlot>(self, text);
}

template <ClientSlot kSlot>
ResultCode SaveConfigurationFile(ILog* self, const char16_t* file, std::uint8_t protect) {
  LogClient* client = nullptr;
  ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  ConfigDocument document;
  rc = ExportCurrentConfiguration(*client->system, document);
  if (Failed(rc)) return rc;
  return SaveDocumentFile(document, ViewOf(file), protect != 0);
}

template <ClientSlot kSlot>
ResultCode GetConfigurationText(ILog* self, char16_t* buffer, std::uint32_t capacity, std::uint32_t* size) {
  if (size == nullptr) return RC_INVALID_PARAMETER;
  LogLibraryObject* object = ObjectOf(self);
  std::lock_guard<std::mutex> hold(object->objectLock);
  LogClient* client = nullptr;
  ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  try {
    ConfigDocument document;
    rc = ExportCurrentConfiguration(*client->system, document);
    if (Failed(rc)) return rc;
    MemoryLineSink text;
    rc = WriteDocument(document, text);
    if (Failed(rc)) return rc;
    return CopyOut(text.Text(), buffer, capacity, size);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

template <ClientSlot kSlot>
ResultCode ResetConfiguration(ILog* self) {
  LogClient* client = nullptr;
  const ResultCode rc = WithClient<kSlot>(self, &client);
  if (Failed(rc)) return rc;
  std::lock_guard<std::recursive_mutex> hold(client->lock);
  return client->system->Reset();
}

// The shared folder, or the library's own folder where there is none; the
// empty string when neither is found. Set through the table, so a table
// with a replaced slot sees the call.
template <ClientSlot kSlot>
ResultCode UseStandardConfigurationFolder(ILog* self) {
  WString folder;
  if (Failed(SharedLogFolder(&folder))) folder.clear();
  if constexpr (kSlot == &LogLibraryObject::primary) {
    return self->vtbl->SetConfigurationFolder(self, folder.c_str());
  } else {
    return self->vtbl->SetConfigurationFolderSecondary(self, folder.c_str());
  }
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
    ResetConfiguration<P>,
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
    ResetConfiguration<S>,
    Reserved,
    LoadConfigurationFile<P>,
    ApplyConfigurationTextOrNothing<P>,
    LoadConfigurationFile<S>,
    ApplyConfigurationTextOrNothing<S>,
    Release,
    Flush<P>,
    Flush<S>,
    UseStandardConfigurationFolder<P>,
    UseStandardConfigurationFolder<S>,
    Reserved,
    Reserved,
    SetFolders<P>,
    SetFolders<S>,
    StartAsyncWorker,
    StopAsyncWorker,
};

}  // namespace zun
