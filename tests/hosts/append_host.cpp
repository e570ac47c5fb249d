// Appends numbered lines to one log file through its own file appender, from
// several threads, so a test can run a few of these processes against one
// file at once.
//
//   append_host <file> <first writer id> <lines per thread> <threads> <start fd>
//
// Thread t writes the lines of writer <first writer id> + t. Writing starts
// when <start fd> reaches its end (the test closes the other end once every
// process is running). Exit status 0 when every append succeeded.
#include <unistd.h>

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
#include "records/log_record.h"

namespace {

using namespace zun;

bool AddKey(ConfigSection& section, WStringView name, WStringView value) {
  ConfigKeyRef key;
  return Succeeded(ConfigKey::Create(name, &key)) && Succeeded(key->SetPlainValue(value)) &&
         Succeeded(section.AddKey(std::move(key)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: append_host <file> <first writer> <lines> <threads> <start fd>\n");
    return 2;
  }
  const WString path = ToUtf16(argv[1]);
  const unsigned firstWriter = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  const unsigned lines = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  const unsigned threadCount = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  const int startFd = std::atoi(argv[5]);

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

  char byte = 0;
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
