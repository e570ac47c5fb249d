#pragma once
// Pieces shared by the appender tests: configuration sections from text,
// file appenders, records, log files read back as lines, many writers on one
// file, and a logger tree writing into files.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "appenders/custom_layout.h"
#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "config/config_reader.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"
#include "hosts/append_lines.h"
#include "records/log_record.h"
#include "support/test_support.h"

namespace zun::test {

// The first section of configuration text, read as files are read.
inline ConfigSectionRef SectionFromText(WStringView text) {
  ConfigDocument document;
  MemoryLineSource source(text);
  EXPECT_RC(RC_OK, ParseDocument(document, source));
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, document.EnumerateSections().Current(&section));
  return section;
}

// A custom layout from its keys, e.g. u"Format = %msg\nHeader = head".
inline std::unique_ptr<CustomLayout> MakeLayout(WStringView keys) {
  auto layout = std::make_unique<CustomLayout>(WString(u"L"));
  EXPECT_RC(RC_OK, layout->LoadConfig(*SectionFromText(u"[L]\nLayoutType = Custom\n" + WString(keys))));
  return layout;
}

// A file appender with `folder` as its log folder, configured from `keys`.
inline std::unique_ptr<FileAppender> MakeFileAppender(AppenderOwner* owner,
                                                      const std::filesystem::path& folder, WStringView keys) {
  std::unique_ptr<FileAppender> appender;
  EXPECT_RC(RC_OK, FileAppender::Create(owner, u"file", ToUtf16(folder.string()), &appender));
  EXPECT_RC(RC_OK, appender->LoadConfig(*SectionFromText(u"[file]\nAppenderType = File\n" + WString(keys))));
  return appender;
}

inline LogRecord MakeRecord(Severity severity, WStringView message, SharedText keyRecordLine = nullptr) {
  LogRecord record;
  record.severity = severity;
  record.message = WString(message);
  record.keyRecordLine = std::move(keyRecordLine);
  return record;
}

// The lines of UTF-8 log file content; fails unless it starts with the mark
// (when `marked`) and every line ends in CR LF.
inline std::vector<std::string> LogLines(const std::string& bytes, const std::string& name,
                                         bool marked = true) {
  std::vector<std::string> lines;
  if (marked) {
    EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0)) << "no UTF-8 mark at the start of " << name;
  }
  for (std::size_t at = marked ? 3 : 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line at offset " << at << " of " << name;
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}
inline std::vector<std::string> ReadLogLines(const std::filesystem::path& path) {
  return LogLines(ReadFileBytes(path), path.string());
}

// Writer id to the number of lines it wrote (indexes 0 .. count - 1).
using AppendWriters = std::map<unsigned, unsigned>;

// Checks that `lines` hold exactly the lines of `writers`, each once, whole,
// in any order; `text` gives the line of a writer and index.
inline void ExpectEveryLineOnce(
    const std::vector<std::string>& lines, const AppendWriters& writers,
    const std::function<std::string(unsigned, unsigned)>& text = [](unsigned writer, unsigned index) {
      return ToUtf8(AppendLineText(writer, index));
    }) {
  std::map<unsigned, std::vector<bool>> seen;
  for (const auto& [writer, count] : writers) seen[writer].assign(count, false);
  std::size_t malformed = 0, duplicates = 0, missing = 0;
  for (const std::string& line : lines) {
    unsigned writer = 0, index = 0;
    const auto it =
        std::sscanf(line.c_str(), "w%u n%u ", &writer, &index) == 2 ? seen.find(writer) : seen.end();
    if (it == seen.end() || index >= it->second.size() || text(writer, index) != line) {
      if (malformed++ == 0) ADD_FAILURE() << "first malformed line: " << line.substr(0, 200);
      continue;
    }
    duplicates += it->second[index] ? 1 : 0;
    it->second[index] = true;
  }
  for (const auto& [writer, flags] : seen) {
    for (const bool present : flags) missing += present ? 0 : 1;
  }
  EXPECT_EQ(0u, malformed);
  EXPECT_EQ(0u, duplicates);
  EXPECT_EQ(0u, missing);
}

// Runs `body` in a child process that exits with its result, which must be 0.
inline void ExpectChildExitsZero(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) _exit(body());
  int status = -1;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

// Runs `processes` append_host programs on `path` at once, each with
// `threads` threads of `lines` lines; each must exit 0, and then the file
// must start with the mark and hold every line once, whole. With `race`, the
// last process appends as another program would and the others see a slow
// file system.
inline void AppendFromProcesses(const std::filesystem::path& path, unsigned processes, unsigned threads,
                                unsigned lines, bool race = false) {
  AppendWriters writers;
  int start[2];
  ASSERT_EQ(0, pipe2(start, O_CLOEXEC));
  const std::string host = HostProgram("append_host");
  std::vector<pid_t> children;
  for (unsigned p = 0; p < processes; ++p) {
    const unsigned first = 1000 + 100 * p;
    for (unsigned t = 0; t < threads; ++t) writers[first + t] = lines;
    std::vector<std::string> args = {
        host, path.string(), std::to_string(first), std::to_string(lines), std::to_string(threads), "100"};
    if (race) args.push_back(p + 1 == processes ? "plain" : "slow");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
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
  ExpectEveryLineOnce(ReadLogLines(path), writers);
}

// A logger tree whose dispatcher writes at once, with file appenders in the
// temporary folder that render the standard layout.
class LoggerFilesTest : public TempDirTest {
 protected:
  void AddFileAppender(Logger* logger, const std::string& fileName) {
    appenders_.push_back(MakeFileAppender(&dispatcher_, Dir(), u"FileName = " + ToUtf16(fileName) + u"\n"));
    appenders_.back()->AttachLayout(&layout_);
    EXPECT_RC(RC_OK, LoggerTree::AddAppender(logger, appenders_.back().get()));
  }
  Logger* Get(WStringView name, std::uint32_t mask = 58) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger;
  }
  // A C host's printf-style call from "main.c" line 12.
  static ZunResult LogFormat(Logger* logger, std::int32_t severity, std::uint32_t protectionMode,
                             const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const ZunResult rc = logger->Interface()->vtbl->LogFull(logger->Interface(), severity, format, u"main.c",
                                                            12, 3, 4, 5, protectionMode, &args);
    va_end(args);
    return rc;
  }

  // 8 threads log `lines` lines each, even ones through "alpha" and odd ones
  // through "beta", into one file through one shared appender or one each;
  // every 97th line is long, and each thread closes the file now and then.
  // Then every line must be in the file once, whole.
  void LogFromEightThreads(bool shareAppender, unsigned lines) {
    const std::string file = shareAppender ? "shared.log" : "two.log";
    Logger* loggers[2] = {Get(u"alpha"), Get(u"beta")};
    LoggerTree::ClearAppenders(loggers[0]);
    LoggerTree::ClearAppenders(loggers[1]);
    AddFileAppender(loggers[0], file);
    if (shareAppender) {
      ASSERT_RC(RC_OK, LoggerTree::AddAppender(loggers[1], appenders_.back().get()));
    } else {
      AddFileAppender(loggers[1], file);
    }
    const std::u16string padding(3000, u'x');
    std::barrier start(8);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        for (unsigned n = 0; n < lines; ++n) {
          EXPECT_RC(RC_OK, LogFormat(loggers[t % 2], ZUN_SEVERITY_INFO, 0, u"%s%s",
                                     AppendLineText(t, n).c_str(), n % 97 == 0 ? padding.c_str() : u""));
          if (n % 1000 == 999) {
            EXPECT_RC(RC_OK, LoggerTree::FlushTree(loggers[t % 2]));
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    AppendWriters writers;
    for (unsigned t = 0; t < 8; ++t) writers[t] = lines;
    std::vector<std::string> messages;
    for (const std::string& line : ReadLogLines(PathOf(file))) {
      const std::size_t at = line.find(" MSG:w");
      const bool beta = at != std::string::npos && (line[at + 6] - '0') % 2 == 1;
      EXPECT_EQ(beta ? "[beta] INFO " : "[alpha] INFO ", line.substr(0, beta ? 12 : 13));
      messages.push_back(at == std::string::npos ? line : line.substr(at + 5));
    }
    ExpectEveryLineOnce(messages, writers, [](unsigned writer, unsigned index) {
      return ToUtf8(AppendLineText(writer, index)) + std::string(index % 97 == 0 ? 3000 : 0, 'x');
    });
  }

  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::vector<std::unique_ptr<FileAppender>> appenders_;  // destroyed first
};

}  // namespace zun::test
