#include "core/config_loading.h"

#include <mutex>
#include <new>
#include <vector>

#include "appenders/standard_layout.h"
#include "config/config_reader.h"
#include "core/config_model.h"
#include "core/log_system.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/stream.h"

namespace zun {

namespace {

ResultCode ApplyText(LogSystem& system, WStringView text, WStringView logFolder) {
  ConfigDocument document;
  MemoryLineSource source(text);
  const ResultCode rc = ParseDocument(document, source);
  if (Failed(rc)) return rc;
  return ApplyDocument(system, document, logFolder);
}

ResultCode ApplyFile(LogSystem& system, WStringView path, WStringView logFolder) {
  ConfigDocument document;
  const ResultCode rc = LoadDocumentFile(document, path);
  if (Failed(rc)) return rc;
  return ApplyDocument(system, document, logFolder);
}

}  // namespace

ResultCode ApplyDefaultConfiguration(LogSystem& system) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(system.Lock());
    auto& layouts = system.Applied().layouts;
    if (layouts.find(kDefaultLayoutName) == layouts.end()) {
      layouts.emplace(kDefaultLayoutName, std::make_shared<StandardLayout>(WString(kDefaultLayoutName)));
    }
    return ApplyText(system, kDefaultConfiguration, system.LogFolder());
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode LoadSourceFile(LogSystem& system, WStringView fileName, WStringView configFolder,
                          WStringView logFolder) noexcept {
  try {
    ConfigSource source;
    source.givenName.assign(fileName);
    source.logFolder.assign(logFolder);
    ResultCode rc = CombinePath(configFolder, fileName, &source.fullPath);
    if (Failed(rc)) return rc;

    FileStream file;
    rc = file.Open(source.fullPath, OpenKind::kOpenExisting, kAccessRead, kShareRead, 0);
    if (Failed(rc)) return rc;
    FileFacts facts;
    rc = ReadFileFacts(source.fullPath, true, &facts);
    if (Failed(rc)) return rc;
    source.creationTime = facts.creationTime;
    source.lastAccessTime = facts.lastAccessTime;
    source.lastWriteTime = facts.lastWriteTime;
    source.changeTime = facts.changeTime;
    {
      std::lock_guard<std::recursive_mutex> hold(system.Lock());
      system.Sources().insert_or_assign(source.givenName, source);
    }

    ConfigDocument document;
    TextFileReader reader(file);
    rc = ParseDocument(document, reader);
    if (Succeeded(rc)) rc = ApplyDocument(system, document, logFolder);
    if (Failed(rc)) return rc;
    // Without a watcher the folder is simply not watched; the load stands.
    system.Tree().Dispatcher()->WatchFolder(ParentPart(source.fullPath));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

void LoadPrivateConfiguration(LogSystem& system) noexcept {
  std::lock_guard<std::recursive_mutex> hold(system.Lock());
  if (system.PrivateConfigurationTried()) return;
  system.PrivateConfigurationTried() = true;
  LoadSourceFile(system, kPrivateConfigurationFile, system.ConfigFolder(), system.LogFolder());
}

ResultCode ApplySourceText(LogSystem& system, WStringView text, WStringView logFolder) noexcept {
  try {
    return ApplyText(system, text, logFolder);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode ReloadConfiguration(LogSystem& system) noexcept {
  try {
    std::vector<ConfigSource> sources;
    {
      std::lock_guard<std::recursive_mutex> hold(system.Lock());
      sources.reserve(system.Sources().size());
      for (const auto& [name, source] : system.Sources()) sources.push_back(source);
    }
    for (const ConfigSource& source : sources) ApplyFile(system, source.fullPath, source.logFolder);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

void ReloadChangedConfiguration(LogSystem& system) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(system.Lock());
    for (auto& [name, source] : system.Sources()) {
      FileFacts facts;
      if (Failed(ReadFileFacts(source.fullPath, true, &facts))) continue;
      if (facts.lastWriteTime == source.lastWriteTime) continue;
      source.lastWriteTime = facts.lastWriteTime;
      ApplyFile(system, source.fullPath, source.logFolder);
    }
  } catch (const std::bad_alloc&) {
    // The next call tries the files whose time was not yet recorded.
  }
}

ResultCode ExportCurrentConfiguration(LogSystem& system, ConfigDocument& document) noexcept {
  std::lock_guard<std::recursive_mutex> hold(system.Lock());
  for (const auto& [name, layout] : system.Applied().layouts) {
    const ResultCode rc = ExportLayoutSection(*layout, document);
    if (Failed(rc)) return rc;
  }
  for (const auto& [name, appender] : system.Applied().appenders) {
    const ResultCode rc = ExportAppenderSection(*appender, document);
    if (Failed(rc)) return rc;
  }
  return LoggerTree::ExportTree(&system.Tree().Root(), document);
}

void DeleteTemporaryFiles(WStringView folder) noexcept {
  DirectoryListing listing;
  if (Failed(listing.Open(folder, kTemporaryFilePattern, kListFiles | kListLinks))) return;
  for (ResultCode rc = listing.First(); rc == RC_OK; rc = listing.Next()) listing.RemoveCurrent();
}

}  // namespace zun
