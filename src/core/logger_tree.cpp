#include "core/logger_tree.h"

#include <algorithm>
#include <memory>
#include <new>

#include "appenders/appender.h"
#include "appenders/log_file.h"
#include "config/config_document.h"

namespace zun {

namespace {

constexpr char16_t kSeparator = u'.';
constexpr char16_t kBlank = u' ';

// The segment a child is filed under in its parent: its name after the last
// dot (names are built from their segments, so this is exact).
WStringView LastSegment(const WString& name) {
  const std::size_t dot = name.rfind(kSeparator);
  return dot == WString::npos ? WStringView(name) : WStringView(name).substr(dot + 1);
}

// One segment of `name` from `from`; `*next` becomes the position after its
// dot, or the end.
WStringView SegmentAt(WStringView name, std::size_t from, std::size_t* next) {
  std::size_t dot = name.find(kSeparator, from);
  if (dot == WStringView::npos) {
    *next = name.size();
    return name.substr(from);
  }
  *next = dot + 1;
  return name.substr(from, dot - from);
}

void AddClientMask(std::atomic<std::uint32_t>& flags, std::uint32_t mask) {
  std::uint32_t current = flags.load(std::memory_order_relaxed);
  while ((current & mask) != mask &&
         !flags.compare_exchange_weak(current, current | mask, std::memory_order_relaxed)) {
  }
}

}  // namespace

// Visits `top` and its subtree in pre-order, children in map order, without
// recursion (a name of many segments makes a deep tree). `visit` returns
// whether to descend into the children of the logger it was given. Children
// are added under their parent's lock, and read under it here, so a walk may
// run beside tree changes; `visit` is called without a lock held.
struct LoggerWalk {
  template <typename Visit>
  static void PreOrder(Logger* top, Visit visit) {
    Logger* at = top;
    for (;;) {
      Logger* first = visit(at) ? FirstChild(at) : nullptr;
      if (first != nullptr) {
        at = first;
        continue;
      }
      for (;;) {
        if (at == top) return;
        Logger* next = NextSibling(at);
        if (next != nullptr) {
          at = next;
          break;
        }
        at = at->parent_;
      }
    }
  }

  static Logger* FirstChild(Logger* logger) {
    std::lock_guard<std::mutex> guard(logger->lock_);
    return logger->children_.empty() ? nullptr : logger->children_.begin()->second;
  }

  static Logger* NextSibling(Logger* logger) {
    Logger* up = logger->parent_;
    std::lock_guard<std::mutex> guard(up->lock_);
    const auto next = up->children_.upper_bound(LastSegment(logger->name_));
    return next == up->children_.end() ? nullptr : next->second;
  }
};

LoggerTree::LoggerTree(AppenderOwner* dispatcher)
    : dispatcher_(dispatcher), root_(u"root", nullptr, dispatcher, &keyRecordLine_) {}

bool LoggerTree::IsRootName(WStringView name) noexcept {
  if (name.empty()) return true;
  constexpr WStringView kRoot = u"ROOT";
  if (name.size() != kRoot.size()) return false;
  for (std::size_t i = 0; i < kRoot.size(); ++i) {
    if (AsciiUpper(name[i]) != kRoot[i]) return false;
  }
  return true;
}

Logger* LoggerTree::FindDeepest(Logger* start, WStringView name, std::size_t* position) noexcept {
  if (IsRootName(name)) {
    *position = 0;
    return start;
  }
  Logger* at = start;
  std::size_t from = 0;
  while (from < name.size()) {
    std::size_t next;
    const WStringView segment = SegmentAt(name, from, &next);
    if (!segment.empty()) {
      Logger* child = at->FindChild(segment);
      if (child == nullptr) break;
      at = child;
    }
    from = next;
  }
  *position = from;
  return at;
}

Logger* LoggerTree::Find(WStringView name) noexcept {
  std::size_t position;
  Logger* found = FindDeepest(&root_, name, &position);
  return IsRootName(name) || position >= name.size() ? found : nullptr;
}

ResultCode LoggerTree::GetOrCreate(Logger** out, std::uint32_t clientMask, WStringView name) noexcept {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  if (IsRootName(name)) name = {};
  std::size_t from;
  Logger* at = FindDeepest(&root_, name, &from);
  try {
    while (from < name.size()) {
      std::size_t next;
      const WStringView segment = SegmentAt(name, from, &next);
      from = next;
      if (segment.empty()) continue;
      if (segment.find(kBlank) != WStringView::npos) return RC_INVALID_LOGGER_NAME;

      WString fullName;
      if (at != &root_) {
        fullName.reserve(at->name_.size() + 1 + segment.size());
        fullName.append(at->name_).push_back(kSeparator);
      }
      fullName.append(segment);
      auto child = std::make_unique<Logger>(fullName, at, dispatcher_, &keyRecordLine_);
      // A new logger is additive, so it starts where its parent stands.
      child->threshold_.store(at->Threshold(), std::memory_order_relaxed);
      {
        std::lock_guard<std::mutex> guard(at->lock_);
        if (!at->children_.emplace(WString(segment), child.get()).second) return RC_DUPLICATE_NAME;
      }
      at = child.release();
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  AddClientMask(at->flags_, clientMask);
  *out = at;
  return RC_OK;
}

void LoggerTree::SetThreshold(Logger* logger, Severity threshold) noexcept {
  LoggerWalk::PreOrder(logger, [&](Logger* at) {
    if (at != logger && !at->IsAdditive()) return false;
    at->threshold_.store(threshold, std::memory_order_relaxed);
    return true;
  });
}

ResultCode LoggerTree::WriteToAppenders(Logger* logger, const LogRecord& record) noexcept {
  // Lines of plain log files are written once the logger's lock is released,
  // so threads logging through one logger do not wait for each other's
  // writes. An appender removed meanwhile cannot close its file under such a
  // write: closing waits for it.
  constexpr std::size_t kDeferredLines = 4;
  for (Logger* at = logger; at != nullptr; at = at->parent_) {
    DeferredLine lines[kDeferredLines];
    std::size_t lineAppender[kDeferredLines];
    std::size_t deferred = 0;
    std::size_t failedAppender = SIZE_MAX;
    ResultCode firstFailure = RC_OK;
    auto note = [&](std::size_t appender, ResultCode rc) {
      if (Failed(rc) && appender < failedAppender) failedAppender = appender, firstFailure = AsWarning(rc);
    };
    auto writeDeferred = [&] {
      for (std::size_t k = 0; k < deferred; ++k) note(lineAppender[k], LogFile::WriteDeferred(lines[k]));
      deferred = 0;
    };
    {
      std::lock_guard<std::mutex> guard(at->lock_);
      const std::vector<Appender*>& appenders = at->appenders_;
      for (std::size_t i = 0; i < appenders.size(); ++i) {
        // An appender named twice would wait, in its close, for this very
        // thread's line: that line goes out first.
        for (std::size_t k = 0; k < deferred; ++k) {
          if (appenders[lineAppender[k]] == appenders[i]) writeDeferred();
        }
        if (deferred == kDeferredLines) writeDeferred();
        note(i, appenders[i]->AppendDeferring(record, &lines[deferred]));
        if (lines[deferred].file != nullptr) lineAppender[deferred++] = i;
      }
    }
    writeDeferred();
    if (firstFailure != RC_OK) return firstFailure;
    if (!at->IsAdditive()) break;
  }
  return RC_OK;
}

void LoggerTree::WriteBatchToAppenders(Logger* logger, const LogRecord** records, std::size_t count,
                                       std::uint8_t* failed) noexcept {
  for (Logger* at = logger; at != nullptr && count != 0; at = at->parent_) {
    std::fill(failed, failed + count, std::uint8_t{0});
    {
      std::lock_guard<std::mutex> guard(at->lock_);
      for (Appender* appender : at->appenders_) appender->AppendBatch(records, count, failed);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (failed[i] == 0) records[kept++] = records[i];
    }
    count = kept;
    if (!at->IsAdditive()) break;
  }
}

ResultCode LoggerTree::FlushTree(Logger* logger) noexcept { return CloseTree(logger, &Appender::Flush); }

ResultCode LoggerTree::RetireTree(Logger* logger) noexcept { return CloseTree(logger, &Appender::Retire); }

ResultCode LoggerTree::CloseTree(Logger* logger, ResultCode (Appender::*close)() noexcept) noexcept {
  ResultCode firstFailure = RC_OK;
  LoggerWalk::PreOrder(logger, [&](Logger* at) {
    std::lock_guard<std::mutex> guard(at->lock_);
    for (Appender* appender : at->appenders_) {
      const ResultCode rc = (appender->*close)();
      if (Failed(rc)) {
        if (firstFailure == RC_OK) firstFailure = rc;
        break;
      }
    }
    return true;
  });
  return firstFailure;
}

void LoggerTree::CheckTargets(Logger* logger) noexcept {
  Logger* root = logger;
  while (root->parent_ != nullptr) root = root->parent_;
  LoggerWalk::PreOrder(root, [](Logger* at) {
    std::lock_guard<std::mutex> guard(at->lock_);
    for (Appender* appender : at->appenders_) appender->CheckTarget();
    return true;
  });
}

void LoggerTree::ResetTree(Logger* logger) noexcept {
  LoggerWalk::PreOrder(logger, [](Logger* at) {
    at->threshold_.store(at->parent_ != nullptr ? at->parent_->Threshold() : kSeverityInfo,
                         std::memory_order_relaxed);
    at->additive_.store(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(at->lock_);
    at->appenders_.clear();
    return true;
  });
  Appender::NoteRouteChange();
}

ResultCode LoggerTree::AddAppender(Logger* logger, Appender* appender) noexcept {
  if (logger == nullptr || appender == nullptr) return RC_INVALID_PARAMETER;
  try {
    {
      std::lock_guard<std::mutex> guard(logger->lock_);
      logger->appenders_.push_back(appender);
    }
    Appender::NoteRouteChange();
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

void LoggerTree::ClearAppenders(Logger* logger) noexcept {
  {
    std::lock_guard<std::mutex> guard(logger->lock_);
    logger->appenders_.clear();
  }
  Appender::NoteRouteChange();
}

ResultCode LoggerTree::ReplaceAppenders(Logger* logger, std::vector<Appender*> appenders) noexcept {
  if (logger == nullptr) return RC_INVALID_PARAMETER;
  {
    std::lock_guard<std::mutex> guard(logger->lock_);
    logger->appenders_.swap(appenders);
  }
  Appender::NoteRouteChange();
  return RC_OK;
}

ResultCode LoggerTree::ExportTree(Logger* logger, ConfigDocument& document) noexcept {
  ResultCode firstFailure = RC_OK;
  LoggerWalk::PreOrder(logger, [&](Logger* at) {
    if (firstFailure != RC_OK) return false;
    ConfigSectionRef section;
    ResultCode rc = ConfigSection::Create(at->Name(), &section);
    if (Succeeded(rc)) rc = at->ExportConfiguration(*section);
    if (Succeeded(rc)) rc = document.AddSection(std::move(section));
    firstFailure = rc;
    return Succeeded(rc);
  });
  return firstFailure;
}

}  // namespace zun
