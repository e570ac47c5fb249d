// Appends numbered lines to one log file through its own file appender, from
// several threads, so a test can run a few of these processes against one
// file at once.
//
//   append_host <file> <first writer id> <lines per thread> <threads> <start fd> [plain|slow]
//
// Thread t writes the lines of writer <first writer id> + t. Writing starts
// when <start fd> reaches its end (the test closes the other end once every
// process is running). With "plain" the lines go out as another program
// would append them: UTF-8 with CR LF, one write each to a descriptor opened
// with O_APPEND as soon as the file exists, no byte-order mark. With "slow"
// the appender sees a slow file system: every read and every look at a
// file's facts takes a fifth of a millisecond more. Exit status 0 when every
// append succeeded.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "append_lines.h"
#include "appenders/custom_layout.h"
#include "appenders/file_appender.h"
#include "appenders/standalone_owner.h"
#include "config/config_document.h"
#include "platform/file_calls.h"
#include "records/log_record.h"

namespace {

using namespace zun;

bool AddKey(ConfigSection& section, WStringView name, WStringView value) {
  ConfigKeyRef key;
  return Succeeded(ConfigKey::Create(name, &key)) && Succeeded(key->SetPlainValue(value)) &&
         Succeeded(section.AddKey(std::move(key)));
}

// Appends the lines of the writers as another program would; 0 on success.
int AppendPlainly(const char* path, unsigned firstWriter, unsigned lines, unsigned threadCount) {
  int fd = -1;
  // Gives up when the file does not appear within some million looks.
  for (int look = 0; look < (1 << 22) && (fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC)) < 0; ++look) {
    if (errno != ENOENT) return 1;
  }
  if (fd < 0) return 1;
  for (unsigned t = 0; t < threadCount; ++t) {
    for (unsigned i = 0; i < lines; ++i) {
      const std::string line = ToUtf8(test::AppendLineText(firstWriter + t, i)) + "\r\n";
      if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
    }
  }
  return close(fd) == 0 ? 0 : 1;
}

ssize_t SlowPread(int fd, void* buffer, size_t length, off_t offset) {
  usleep(200);
  return pread(fd, buffer, length, offset);
}
int SlowFstat(int fd, struct stat* out) {
  usleep(200);
  return fstat(fd, out);
}
int SlowStat(const char* path, struct stat* out) {
  usleep(200);
  return stat(path, out);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 7 ? argv[6] : "";
  if (argc < 6 || argc > 7 || !(mode.empty() || mode == "plain" || mode == "slow")) {
    std::fprintf(stderr,
                 "usage: append_host <file> <first writer> <lines> <threads> <start fd> [plain|slow]\n");
    return 2;
  }
  FileCalls slow = RealFileCalls();
  slow.pread = SlowPread;
  slow.fstat = SlowFstat;
  slow.stat = SlowStat;
  if (mode == "slow") SetFileCalls(&slow);
  const WString path = ToUtf16(argv[1]);
  const unsigned firstWriter = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  const unsigned lines = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  const unsigned threadCount = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  const int startFd = std::atoi(argv[5]);
  char byte = 0;
  if (mode == "plain") {
    while (read(startFd, &byte, 1) > 0) {
    }
    return AppendPlainly(argv[1], firstWriter, lines, threadCount);
  }

  ConfigSectionRef layoutSection;
  ConfigSectionRef appenderSection;
  if (Failed(ConfigSection::Create(u"L", &layoutSection)) ||
      Failed(ConfigSection::Create(u"A", &appenderSection)) ||
      !AddKey(*layoutSection, u"LayoutType", u"Custom") || !AddKey(*layoutSection, u"Format", u"%msg") ||
      !AddKey(*appenderSection, u"AppenderType", u"File") || !AddKey(*appenderSection, u"FileName", path)) {
    std::fprintf(stderr, "append_host: cannot build the configuration\n");
    return 3;
  }
  CustomLayout layout(u"L");
  StandaloneAppenderOwner owner;
  std::unique_ptr<FileAppender> appender;
  ResultCode rc = layout.LoadConfig(*layoutSection);
  if (Succeeded(rc)) rc = FileAppender::Create(&owner, u"A", u"", &appender);
  if (Succeeded(rc)) rc = appender->LoadConfig(*appenderSection);
  if (Failed(rc)) {
    std::fprintf(stderr, "append_host: configuration failed: 0x%08X\n", rc);
    return 3;
  }
  appender->AttachLayout(&layout);

  while (read(startFd, &byte, 1) > 0) {
  }

  std::vector<std::thread> threads;
  std::vector<ResultCode> failures(threadCount, RC_OK);
  for (unsigned t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      LogRecord record;
      record.severity = 200000;
      for (unsigned i = 0; i < lines; ++i) {
        record.message = test::AppendLineText(firstWriter + t, i);
        const ResultCode result = appender->Append(record);
        if (Failed(result) && failures[t] == RC_OK) failures[t] = result;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  appender->Flush();
  for (const ResultCode failure : failures) {
    if (failure != RC_OK) {
      std::fprintf(stderr, "append_host: append failed: 0x%08X\n", failure);
      return 1;
    }
  }
  return 0;
}
