// zunlog log: one record for the message, or one for each line of standard
// input, the way logger(1) does it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "log_object.h"
#include "unicode.h"
#include "verbs.h"

namespace zunlog {

namespace {

constexpr char kHelp[] =
    "Usage: zunlog log [OPTION]... [MESSAGE]...\n"
    "Logs MESSAGE (its words joined by blanks), or every line of standard input\n"
    "when there is none, through the library's default configuration and the\n"
    "configuration files named with -c.\n"
    "\n"
    "  -s, --severity=SEVERITY  ALL, DEBUG, DETAIL, INFO, WARN, ERROR, FATAL, OFF in\n"
    "                           any letter case, or a number; default WARN, the\n"
    "                           lowest name the default configuration writes\n"
    "  -n, --logger=NAME        the dotted logger name; default zunlog\n"
    "  -c, --config=FILE        load a configuration file (repeatable, in order)\n"
    "  -p, --protect=MODE       none, scramble, scramble2, public-key, session or\n"
    "                           a mode number; default none\n"
    "      --help               this text\n"
    "\n"
    "A record at or below the logger's threshold is skipped, as every host skips\n"
    "it; that is no failure. Records carry the source file identifier zunlog and\n"
    "the line number of standard input (0 for a MESSAGE).\n"
    "\n"
    "Exit status: 0 when every record was written or skipped, 1 when a record, a\n"
    "configuration file or the library failed (the result code's name on\n"
    "standard error), 2 on misuse.\n";

struct Request {
  std::int32_t severity = ZUN_SEVERITY_WARN;
  std::string logger = "zunlog";
  std::vector<std::string> files;
  std::uint32_t mode = ZUN_PROTECT_NONE;
};

// Writes one record unless the threshold skips it; false after reporting a
// failure.
bool WriteRecord(ZunLogger* logger, const Request& request, const std::string& text, std::uint32_t line) {
  if (!ZunIsEnabled(logger, request.severity)) return true;
  const std::u16string message = Utf8ToUtf16(text);
  const ZunResult rc = logger->vtbl->LogFull(logger, request.severity, message.c_str(), u"zunlog", line, 0, 0,
                                             0, request.mode, nullptr);
  if (ZUN_SUCCEEDED(rc)) return true;
  if (line != 0) {
    std::fprintf(stderr, "zunlog log: line %u: %s\n", line, DescribeResult(rc).c_str());
  } else {
    std::fprintf(stderr, "zunlog log: %s\n", DescribeResult(rc).c_str());
  }
  return false;
}

bool WriteStandardInput(ZunLogger* logger, const Request& request) {
  bool allWritten = true;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  std::uint32_t line = 0;
  for (ssize_t n; (n = getline(&buffer, &capacity, stdin)) >= 0;) {
    std::string text(buffer, static_cast<std::size_t>(n));
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    allWritten = WriteRecord(logger, request, text, ++line) && allWritten;
  }
  std::free(buffer);
  return allWritten;
}

}  // namespace

int RunLog(int argc, char** argv) {
  static const VerbSpec kVerb{
      "log",
      kHelp,
      {{"severity", 's', true}, {"logger", 'n', true}, {"config", 'c', true}, {"protect", 'p', true}}};
  Request request;
  std::vector<std::string> words;
  const auto take = [&](int option, const char* value) -> std::string {
    switch (option) {
      case 's':
        if (const auto severity = ParseSeverity(value)) {
          request.severity = *severity;
          return "";
        }
        return std::string("'") + value + "' is no severity name or number";
      case 'p':
        if (const auto mode = ParseProtectionMode(value)) {
          request.mode = *mode;
          return "";
        }
        return std::string("'") + value + "' is no protection mode";
      case 'n':
        request.logger = value;
        return "";
      default:
        request.files.emplace_back(value);
        return "";
    }
  };
  if (const auto status = ParseOptions(argc, argv, kVerb, take, &words)) return *status;

  LogObject log;
  ZunResult rc = log.Open(kVerb.name);
  if (ZUN_SUCCEEDED(rc)) rc = log.LoadFiles(request.files, kVerb.name);
  if (ZUN_FAILED(rc)) return kExitFailure;
  ZunLogger* logger = nullptr;
  rc = log.Get()->vtbl->GetLogger(log.Get(), &logger, Utf8ToUtf16(request.logger).c_str());
  if (ZUN_FAILED(rc)) {
    std::fprintf(stderr, "zunlog log: no logger '%s': %s\n", request.logger.c_str(),
                 DescribeResult(rc).c_str());
    return kExitFailure;
  }

  bool allWritten = true;
  if (words.empty()) {
    allWritten = WriteStandardInput(logger, request);
  } else {
    std::string message;
    for (const std::string& word : words) message.append(message.empty() ? "" : " ").append(word);
    allWritten = WriteRecord(logger, request, message, 0);
  }
  rc = log.Get()->vtbl->Flush(log.Get());
  if (ZUN_FAILED(rc)) {
    std::fprintf(stderr, "zunlog log: flush: %s\n", DescribeResult(rc).c_str());
    allWritten = false;
  }
  return allWritten ? kExitOk : kExitFailure;
}

}  // namespace zunlog
