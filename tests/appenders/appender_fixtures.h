#pragma once
// Pieces shared by the appender tests: sections from configuration text,
// custom layouts, records, and reading a log file back as lines.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "appenders/custom_layout.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "core/log_record.h"
#include "hosts/append_lines.h"
#include "support/test_support.h"

namespace zun::test {

// The first section of configuration text, read as files are read.
inline ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  EXPECT_TRUE(document.Errors().empty());
  ConfigSectionRef section;
  ConfigSectionEnumerator sections = document.EnumerateSections();
  EXPECT_RC(RC_OK, sections.Current(&section));
  return section;
}

// A custom layout from its keys, e.g. u"Format = %msg\nHeader = head".
inline std::unique_ptr<CustomLayout> MakeLayout(WStringView keys) {
  auto layout = std::make_unique<CustomLayout>(WString(u"L"));
  WString text = u"[L]\nLayoutType = Custom\n";
  text += keys;
  EXPECT_RC(RC_OK, layout->LoadConfig(*SectionFromText(text)));
  return layout;
}

inline LogRecord MakeRecord(Severity severity, WStringView message, SharedText keyRecordLine = nullptr) {
  LogRecord record;
  record.loggerName = u"test";
  record.severity = severity;
  record.message = WString(message);
  record.keyRecordLine = std::move(keyRecordLine);
  return record;
}

// The lines of a UTF-8 log file: checks the mark and that every line ends
// in CR LF (a failure names the offset), then returns the lines as text.
inline std::vector<std::string> ReadLogLines(const std::filesystem::path& path) {
  const std::string bytes = ReadFileBytes(path);
  std::vector<std::string> lines;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
    ADD_FAILURE() << "no UTF-8 mark at the start of " << path;
    return lines;
  }
  std::size_t at = 3;
  while (at < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line at offset " << at << " of " << path;
      break;
    }
    const std::string line = bytes.substr(at, end - at);
    if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos) {
      ADD_FAILURE() << "stray line break inside the line at offset " << at;
    }
    lines.push_back(line);
    at = end + 2;
  }
  return lines;
}

// Writer id to the number of lines it wrote (indexes 0 .. count - 1).
using AppendWriters = std::map<unsigned, unsigned>;

// Checks that `lines` hold exactly the lines of `writers`, each once, whole,
// in any order; EXPECT failures name the first problem of each kind.
inline void ExpectEveryLineOnce(const std::vector<std::string>& lines, const AppendWriters& writers) {
  std::map<unsigned, std::vector<bool>> seen;
  for (const auto& [writer, count] : writers) seen[writer].assign(count, false);
  std::size_t malformed = 0;
  std::size_t duplicates = 0;
  std::string firstMalformed;
  for (const std::string& line : lines) {
    unsigned writer = 0;
    unsigned index = 0;
    const auto it =
        std::sscanf(line.c_str(), "w%u n%u ", &writer, &index) == 2 ? seen.find(writer) : seen.end();
    if (it == seen.end() || index >= it->second.size() || ToUtf8(AppendLineText(writer, index)) != line) {
      if (malformed++ == 0) firstMalformed = line.substr(0, 200);
      continue;
    }
    if (it->second[index]) ++duplicates;
    it->second[index] = true;
  }
  std::size_t missing = 0;
  for (const auto& [writer, flags] : seen) {
    for (const bool present : flags) missing += present ? 0 : 1;
  }
  EXPECT_EQ(0u, malformed) << "first malformed line: " << firstMalformed;
  EXPECT_EQ(0u, duplicates);
  EXPECT_EQ(0u, missing);
}

// Runs `processes` append_host programs on `path` at once, each with
// `threads` threads of `lines` lines, and waits for them; each must exit 0.
// Adds their writers to `writers`.
inline void RunAppendHosts(const std::filesystem::path& path, unsigned processes, unsigned threads,
                           unsigned lines, AppendWriters* writers) {
  int start[2];
  ASSERT_EQ(0, pipe2(start, O_CLOEXEC));
  const std::string host = HostProgram("append_host");
  std::vector<pid_t> children;
  for (unsigned p = 0; p < processes; ++p) {
    const unsigned first = 1000 + 100 * p;
    for (unsigned t = 0; t < threads; ++t) (*writers)[first + t] = lines;
    std::vector<std::string> args = {
        host, path.string(), std::to_string(first), std::to_string(lines), std::to_string(threads), "100"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
      // Only the read end survives the exec, at a known number.
      if (dup2(start[0], 100) < 0) _exit(126);
      execv(host.c_str(), argv.data());
      _exit(127);
    }
    children.push_back(pid);
  }
  close(start[0]);
  close(start[1]);  // every host sees the end of the pipe and starts
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "append_host status " << status;
  }
}

}  // namespace zun::test
