#include "core/logger.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <utility>

#include "appenders/appender.h"
#include "appenders/appender_owner.h"
#include "base/lasting.h"
#include "config/config_document.h"
#include "core/logger_tree.h"
#include "records/wide_format.h"

namespace zun {

namespace {

// The revision a record carries when a revision text is printed instead.
constexpr std::uint32_t kRevisionFromText = 0xFFFFFFFFu;

const SharedText& NoKeyRecordLine() {
  static Lasting<const SharedText> none;
  return *none;
}

const char16_t* GetNameSlot(ZunLogger* self) {
  Logger* logger = Logger::FromInterface(self);
  return logger != nullptr ? logger->Name().c_str() : u"";
}

ZunResult LogFullSlot(ZunLogger* self, int32_t severity, const char16_t* message, const char16_t* fileId,
                      uint32_t line, uint32_t buildNumber, uint32_t revision, uint32_t product,
                      uint32_t protectionMode, va_list* args) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  const LogCall call{severity, message, fileId,  line,          buildNumber,
                     revision, nullptr, product, protectionMode};
  return logger->Log(call, args);
}

// Slots 1, 2 and 6 go through the table, so a table with a replaced slot 3
// or 7 sees every call.
ZunResult LogSlot(ZunLogger* self, int32_t severity, const char16_t* message, const char16_t* fileId,
                  uint32_t line, uint32_t buildNumber, uint32_t revision, uint32_t product,
                  uint32_t protectionMode, va_list* args) {
  if (self == nullptr) return RC_INVALID_PARAMETER;
  return self->vtbl->LogFull(self, severity, message, fileId, line, buildNumber, revision, product,
                             protectionMode, args);
}

ZunResult LogWithoutProductSlot(ZunLogger* self, int32_t severity, const char16_t* message,
                                const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                                uint32_t revision, uint32_t protectionMode, va_list* args) {
  if (self == nullptr) return RC_INVALID_PARAMETER;
  return self->vtbl->Log(self, severity, message, fileId, line, buildNumber, revision, 0, protectionMode,
                         args);
}

ZunResult ConfigureSlot(ZunLogger* self, void* section) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr || section == nullptr) return RC_INVALID_PARAMETER;
  return logger->Configure(*static_cast<const ConfigSection*>(section));
}

ZunResult ExportConfigurationSlot(ZunLogger* self, void* section) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr || section == nullptr) return RC_INVALID_PARAMETER;
  return logger->ExportConfiguration(*static_cast<ConfigSection*>(section));
}

ZunResult LogRevisionTextFullSlot(ZunLogger* self, int32_t severity, const char16_t* message,
                                  const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                                  const char16_t* revisionText, uint32_t product, uint32_t protectionMode,
                                  va_list* args) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  const LogCall call{severity,          message,      fileId,  line,          buildNumber,
                     kRevisionFromText, revisionText, product, protectionMode};
  return logger->Log(call, args);
}

ZunResult LogRevisionTextSlot(ZunLogger* self, int32_t severity, const char16_t* message,
                              const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                              const char16_t* revisionText, uint32_t product, uint32_t protectionMode,
                              va_list* args) {
  if (self == nullptr) return RC_INVALID_PARAMETER;
  return self->vtbl->LogRevisionTextFull(self, severity, message, fileId, line, buildNumber, revisionText,
                                         product, protectionMode, args);
}

ZunResult LogRecordsSlot(ZunLogger* self, ZunRecordSource* source, uint8_t reverse) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  return logger->LogRecords(source, reverse != 0);
}

ZunDispatch* GetDispatchInterfaceSlot(ZunLogger* self) {
  Logger* logger = Logger::FromInterface(self);
  return logger != nullptr ? logger->DispatchInterface() : nullptr;
}

// Internal: the tree destroys its loggers itself. Without `freeMemory` only
// the destructor runs (the storage belongs to someone else, as the root's
// belongs to its tree).
void DestroySlot(ZunLogger* self, uint8_t freeMemory) {
  Logger* logger = Logger::FromInterface(self);
  if (logger == nullptr) return;
  if (freeMemory != 0) {
    delete logger;
  } else {
    logger->~Logger();
  }
}

void* QueryInterfaceSlot(ZunDispatch* self, uint32_t id, uint32_t version, uint8_t* found) {
  const bool match = self != nullptr && id == ZUN_IID_DISPATCH && version < 2;
  if (found != nullptr) *found = match ? 1 : 0;
  return match ? self : nullptr;
}

uint8_t IsEnabledSlot(ZunDispatch* self, int32_t severity) {
  Logger* logger = Logger::FromDispatch(self);
  return logger != nullptr && logger->IsEnabled(severity) ? 1 : 0;
}

ZunResult LogFromSourceSlot(ZunDispatch* self, int32_t severity, const char16_t* message,
                            const char16_t* fileId, uint32_t line, const ZunSourceInfo* info,
                            ZunArgumentSource* args) {
  Logger* logger = Logger::FromDispatch(self);
  if (logger == nullptr || args == nullptr) return RC_INVALID_PARAMETER;
  LogCall call;
  call.severity = severity;
  call.message = message;
  call.fileId = fileId;
  call.line = line;
  call.revision = kRevisionFromText;
  if (info != nullptr) {
    call.buildNumber = info->buildNumber;
    call.product = info->product;
    call.revisionText = info->revisionText;
  }
  // Without a message the record's text is the arguments themselves: keep
  // them out of plain sight.
  call.protectionMode = message == nullptr ? 1 : 0;
  return logger->Log(call, args);
}

constexpr ZunLoggerVtbl kLoggerTable = {
    GetNameSlot,           LogSlot,
    LogWithoutProductSlot, LogFullSlot,
    ConfigureSlot,         ExportConfigurationSlot,
    LogRevisionTextSlot,   LogRevisionTextFullSlot,
    LogRecordsSlot,        GetDispatchInterfaceSlot,
    DestroySlot,
};

constexpr ZunDispatchVtbl kDispatchTable = {QueryInterfaceSlot, IsEnabledSlot, LogFromSourceSlot};

}  // namespace

bool SegmentLess::operator()(WStringView a, WStringView b) const noexcept { return Utf16LeBytesLess(a, b); }

Logger::Logger(WStringView name, Logger* parent, AppenderOwner* dispatcher, const SharedText* keyRecordLine)
    : interface_{{&kLoggerTable}, this},
      dispatch_{{&kDispatchTable}, this},
      name_(name),
      parent_(parent),
      dispatcher_(dispatcher),
      keyRecordLine_(keyRecordLine) {}

Logger::~Logger() {
  // Post-order without recursion, so a name of many segments cannot exhaust
  // the stack: descend to the first leaf, destroy it, climb back.
  Logger* at = this;
  for (;;) {
    if (!at->children_.empty()) {
      at = at->children_.begin()->second;
      continue;
    }
    if (at == this) break;
    Logger* up = at->parent_;
    up->children_.erase(up->children_.begin());
    delete at;
    at = up;
  }
  delete spareRecord_.load(std::memory_order_acquire);
}

Logger* Logger::FromInterface(ZunLogger* face) noexcept {
  if (face == nullptr) return nullptr;
  return reinterpret_cast<LoggerFace*>(face)->owner;
}

Logger* Logger::FromDispatch(ZunDispatch* face) noexcept {
  if (face == nullptr) return nullptr;
  return reinterpret_cast<DispatchFace*>(face)->owner;
}

Logger* Logger::FindChild(WStringView segment) const noexcept {
  const auto found = children_.find(segment);
  return found != children_.end() ? found->second : nullptr;
}

ResultCode Logger::AppenderNames(std::vector<WString>* out) const {
  try {
    std::lock_guard<std::mutex> guard(lock_);
    out->clear();
    for (const Appender* appender : appenders_) out->push_back(appender->Name());
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

const SharedText& Logger::KeyRecordLineForRecords() const noexcept {
  return keyRecordLine_ != nullptr ? *keyRecordLine_ : NoKeyRecordLine();
}

// Holds the logger's spare record for one call, or a new one when another
// thread has it; gives it back at the end (a second one is freed).
class Logger::RecordLease {
 public:
  explicit RecordLease(std::atomic<LogRecord*>& spare) noexcept
      : spare_(spare), record_(spare.exchange(nullptr, std::memory_order_acquire)) {
    if (record_ == nullptr) record_ = new (std::nothrow) LogRecord();
  }
  ~RecordLease() {
    if (record_ == nullptr) return;
    // A text far longer than usual is not kept for every later call.
    for (WString* text : {&record_->message, &record_->fileId, &record_->revisionText}) {
      if (text->capacity() > kSpareTextLimit) WString().swap(*text);
    }
    LogRecord* expected = nullptr;
    if (!spare_.compare_exchange_strong(expected, record_, std::memory_order_release)) delete record_;
  }
  RecordLease(const RecordLease&) = delete;
  RecordLease& operator=(const RecordLease&) = delete;

  LogRecord* get() const noexcept { return record_; }

 private:
  static constexpr std::size_t kSpareTextLimit = 4096;

  std::atomic<LogRecord*>& spare_;
  LogRecord* record_;
};

template <typename Arguments>
ResultCode Logger::BuildAndDispatch(const LogCall& call, Arguments args) noexcept {
  if (dispatcher_ == nullptr) return RC_NOT_INITIALISED;
  // The texts are assigned into the room of an earlier record, so a steady
  // stream of calls allocates nothing for them.
  RecordLease lease(spareRecord_);
  LogRecord* record = lease.get();
  if (record == nullptr) return RC_OUT_OF_MEMORY;
  const ResultCode rc = BuildRecord(name_, Flags(), KeyRecordLineForRecords(), call, args, record);
  if (Failed(rc)) return rc;
  return dispatcher_->Dispatch(this, std::move(*record));
}

bool Logger::NothingTakes(Severity severity) noexcept {
  const std::uint32_t generation = Appender::RouteGeneration();
  std::uint64_t cached = lowestTaken_.load(std::memory_order_acquire);
  if (static_cast<std::uint32_t>(cached >> 32) != generation) {
    std::int64_t lowest = std::numeric_limits<std::int64_t>::max();
    for (Logger* at = this; at != nullptr; at = at->parent_) {
      {
        std::lock_guard<std::mutex> guard(at->lock_);
        for (const Appender* appender : at->appenders_)
          lowest = std::min(lowest, appender->LowestTakenSeverity());
      }
      if (!at->IsAdditive()) break;
    }
    // A severity of INT32_MAX may then be built in vain: harmless.
    const auto clamped = static_cast<Severity>(std::clamp<std::int64_t>(
        lowest, std::numeric_limits<Severity>::min(), std::numeric_limits<Severity>::max()));
    cached = (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(clamped);
    lowestTaken_.store(cached, std::memory_order_release);
  }
  return severity < static_cast<Severity>(static_cast<std::uint32_t>(cached));
}

ResultCode Logger::Log(const LogCall& call, va_list* args) noexcept {
  // Unless the arguments are typed ones rendered without a message text, a
  // record's building can fail only for want of memory, so one that no
  // appender would take ends here, unbuilt, with the code it would have had
  // and the caller's list taken as far as the text would have taken it.
  const bool typedRendering =
      (Flags() & kLoggerFlagTypedMode) != 0 && (call.message == nullptr || call.message[0] == 0);
  if (dispatcher_ != nullptr && !typedRendering && NothingTakes(call.severity)) {
    if (args != nullptr) TakeWideArguments(call.message, args);
    dispatcher_->Skip(this);
    return RC_OK;
  }
  return BuildAndDispatch(call, args);
}

ResultCode Logger::Log(const LogCall& call, ZunArgumentSource* args) noexcept {
  return BuildAndDispatch(call, args);
}

ResultCode Logger::LogRecords(ZunRecordSource* source, bool reverse) noexcept {
  if (source == nullptr || source->vtbl == nullptr) return RC_INVALID_PARAMETER;
  if (dispatcher_ == nullptr) return RC_NOT_INITIALISED;
  const std::uint32_t count = source->vtbl->Count(source);
  LogRecord record;
  for (std::uint32_t i = 0; i < count; ++i) {
    ZunLogRecordView view{};
    ResultCode rc = source->vtbl->Get(source, reverse ? count - 1 - i : i, &view);
    if (Failed(rc)) return rc;
    rc = BuildRecordFromView(name_, Flags(), KeyRecordLineForRecords(), view, &record);
    if (Failed(rc)) return rc;
    rc = dispatcher_->Dispatch(this, std::move(record));
    if (Failed(rc)) return rc;
  }
  return RC_OK;
}

ResultCode Logger::Configure(const ConfigSection& section) noexcept {
  try {
    WString value;
    bool additive;
    ResultCode rc = section.GetValue(u"Additive", &value);
    if (rc == RC_ITEM_NOT_PRESENT) {
      additive = parent_ != nullptr;
    } else if (Failed(rc)) {
      return rc;
    } else {
      additive = !(value == u"false" || value == u"no" || value == u"0");
    }
    additive_.store(additive ? 1 : 0, std::memory_order_relaxed);
    Appender::NoteRouteChange();

    Severity threshold;
    if (additive && parent_ != nullptr) {
      threshold = parent_->Threshold();
    } else {
      rc = section.GetValue(u"Severity", &value);
      if (rc == RC_ITEM_NOT_PRESENT) {
        threshold = kSeverityInfo;
      } else if (Failed(rc)) {
        return rc;
      } else {
        threshold = SeverityFromText(value, kSeverityInfo);
      }
    }
    LoggerTree::SetThreshold(this, threshold);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode Logger::ExportConfiguration(ConfigSection& section) const noexcept {
  try {
    ResultCode rc = section.SetValue(u"Type", u"Logger");
    if (Failed(rc)) return rc;
    if (!IsAdditive()) {
      rc = section.SetValue(u"Additive", u"false");
      if (Failed(rc)) return rc;
      rc = section.SetValue(u"Severity", SeverityToText(Threshold()));
      if (Failed(rc)) return rc;
    }
    std::vector<WString> names;
    rc = AppenderNames(&names);
    if (Failed(rc)) return rc;
    WString joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i != 0) joined.append(u", ");
      joined.append(names[i]);
    }
    return section.SetValue(u"AddAppenders", joined);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
