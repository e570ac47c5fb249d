#include "platform/change_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_calls.h"
#include "platform/paths.h"

namespace zun {

namespace {

constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

ResultCode ChangeWatch::Open(WStringView folder) noexcept {
  Close();
  std::string native;
  ResultCode rc = ToNativePath(folder, &native);
  if (Failed(rc)) return rc;
  const int fd = Files().inotifyInit1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return ResultFromErrno(errno);
  if (Files().inotifyAddWatch(fd, native.c_str(), kChanges) < 0) {
    rc = ResultFromErrno(errno);
    Files().close(fd);
    return rc;
  }
  fd_ = fd;
  return RC_OK;
}

void ChangeWatch::Close() noexcept {
  if (fd_ < 0) return;
  Files().close(fd_);
  fd_ = -1;
}

bool ChangeWatch::Consume() noexcept {
  if (fd_ < 0) return false;
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  bool gone = false;
  for (;;) {
    const ssize_t n = Files().read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      gone = gone || (event->mask & IN_IGNORED) != 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (gone) Close();
  return any;
}

}  // namespace zun
