#include "appenders/file_appender.h"

#include <new>

#include "appenders/appender_owner.h"
#include "config/config_document.h"
#include "platform/paths.h"

namespace zun {

ResultCode FileAppender::Create(AppenderOwner* owner, WStringView name, WStringView logDirectory,
                                std::unique_ptr<FileAppender>* out) noexcept {
  try {
    out->reset(new FileAppender(owner, WString(name), WString(logDirectory), true));
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode FileAppender::LoadConfig(const ConfigSection& section) noexcept {
  const ResultCode rc = CheckAppenderType(section, u"File");
  if (Failed(rc)) return rc;
  return FileAppenderBase::LoadConfig(section);
}

ResultCode FileAppender::SaveConfig(ConfigSection& section) noexcept {
  const ResultCode rc = section.SetValue(u"AppenderType", u"File");
  if (Failed(rc)) return rc;
  return FileAppenderBase::SaveConfig(section);
}

ResultCode FileAppender::Clear() noexcept {
  auto guard = LockGuard();
  if (!file_.IsOpen()) return RC_OK;
  const ResultCode rc = file_.Truncate();
  if (Failed(rc) || !ImmediateWriteHeld()) return rc;
  return file_.Flush();
}

EncodingMode FileAppender::Encoding() const noexcept {
  auto guard = LockGuard();
  return file_.Encoding();
}

ResultCode FileAppender::Write(WStringView text) noexcept {
  if (Collecting()) return file_.Keep(text);
  // A line flushed after its write must be written under the lock.
  const ResultCode rc = file_.Write(text, ImmediateWriteHeld() ? nullptr : LineAfterUnlock());
  if (Failed(rc) || !ImmediateWriteHeld()) return rc;
  return file_.Flush();
}

ResultCode FileAppender::WriteCollected() noexcept {
  const bool any = file_.HasKept();
  const ResultCode rc = file_.WriteKept();
  if (Failed(rc) || !any || !ImmediateWriteHeld()) return rc;
  return file_.Flush();
}

ResultCode FileAppender::OpenTarget() noexcept {
  WString path;
  ResultCode rc = FullPath(&path);
  if (Failed(rc)) return rc;
  // A folder that cannot be made is reported by the open below, with the
  // code that names the real problem.
  const WStringView parent = ParentPart(path);
  if (!parent.empty()) CreateDirectoryTree(parent);
  if (Owner() != nullptr) Owner()->ReportOpenedFile(path);
  return file_.Open(path);
}

ResultCode FileAppender::CloseTarget() noexcept { return file_.Close(); }

void FileAppender::FinishDeferredLines() noexcept { file_.WaitForDeferredLines(); }

bool FileAppender::TargetMoved() noexcept { return !file_.StillAtPath(); }

}  // namespace zun
