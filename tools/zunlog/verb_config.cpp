// zunlog config show | save | check.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "config_check.h"
#include "log_object.h"
#include "unicode.h"
#include "verbs.h"

namespace zunlog {

namespace {

constexpr char kConfigHelp[] =
    "Usage: zunlog config show [-c FILE]...\n"
    "       zunlog config save [-c FILE]... [--protect] FILE\n"
    "       zunlog config check FILE\n"
    "'zunlog config VERB --help' tells more.\n";

constexpr char kShowHelp[] =
    "Usage: zunlog config show [-c FILE]...\n"
    "Prints the configuration in effect, as the library exports it: the default\n"
    "configuration and the files named with -c, loaded in order.\n"
    "\n"
    "  -c, --config=FILE  load a configuration file (repeatable)\n"
    "      --help         this text\n";

constexpr char kSaveHelp[] =
    "Usage: zunlog config save [-c FILE]... [--protect] FILE\n"
    "Writes the configuration in effect (the default configuration and the files\n"
    "named with -c) to FILE, in UTF-16 with a byte-order mark, as the library\n"
    "saves it.\n"
    "\n"
    "  -c, --config=FILE  load a configuration file first (repeatable)\n"
    "      --protect      create FILE readable and writable by everyone\n"
    "      --help         this text\n";

constexpr char kCheckHelp[] =
    "Usage: zunlog config check FILE\n"
    "Applies FILE to a fresh log system and reports each failure with its section\n"
    "and key as FILE:LINE: [SECTION] KEY = VALUE: what is wrong.\n"
    "\n"
    "The library applies a file at once and returns one code for it, stopping at\n"
    "the first failing section. This check reads FILE into sections itself (the\n"
    "same configuration text format, reporting the lines the library would\n"
    "ignore), then applies the sections one at a time in the order the library\n"
    "does (layouts, appenders, then the loggers with the root first), each on top\n"
    "of the sections that applied cleanly before it and each in a child process\n"
    "with a log system of its own. A failing section is applied again without\n"
    "each of its keys in turn: the keys whose absence lets it apply are named,\n"
    "else the key its code points at (AppenderType or AddAppenders for an\n"
    "unknown appender, LayoutType or Layout for an unknown layout). Severity\n"
    "names the library would read as INFO without a word, and sections whose\n"
    "Type builds nothing, are reported too.\n"
    "\n"
    "      --help  this text\n"
    "\n"
    "Exit status: 0 without problems, 1 with any, 2 on misuse.\n";

constexpr int kProtectOption = 0x101;

// The -c files and the operands of a verb; a status when parsing ended it.
std::optional<int> ParseConfigVerb(int argc, char** argv, const VerbSpec& verb,
                                   std::vector<std::string>* files, bool* protect,
                                   std::vector<std::string>* operands) {
  return ParseOptions(
      argc, argv, verb,
      [&](int option, const char* value) {
        if (option == kProtectOption) {
          *protect = true;
        } else {
          files->emplace_back(value);
        }
        return std::string();
      },
      operands);
}

int Show(int argc, char** argv) {
  static const VerbSpec kVerb{"config show", kShowHelp, {{"config", 'c', true}}};
  std::vector<std::string> files, operands;
  bool protect = false;
  if (const auto status = ParseConfigVerb(argc, argv, kVerb, &files, &protect, &operands)) return *status;
  if (!operands.empty()) return UsageError(kVerb, "unexpected argument '" + operands.front() + "'");
  LogObject log;
  ZunResult rc = log.Open(kVerb.name);
  if (ZUN_SUCCEEDED(rc)) rc = log.LoadFiles(files, kVerb.name);
  if (ZUN_FAILED(rc)) return kExitFailure;
  std::u16string text;
  rc = log.ConfigurationText(&text);
  if (ZUN_FAILED(rc)) {
    std::fprintf(stderr, "zunlog config show: %s\n", DescribeResult(rc).c_str());
    return kExitFailure;
  }
  std::string out = Utf16ToUtf8(text);
  for (std::size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at))
    out.erase(at, 1);
  std::fputs(out.c_str(), stdout);
  return kExitOk;
}

int Save(int argc, char** argv) {
  static const VerbSpec kVerb{
      "config save", kSaveHelp, {{"config", 'c', true}, {"protect", kProtectOption, false}}};
  std::vector<std::string> files, operands;
  bool protect = false;
  if (const auto status = ParseConfigVerb(argc, argv, kVerb, &files, &protect, &operands)) return *status;
  if (operands.size() != 1) {
    return UsageError(kVerb,
                      operands.empty() ? "no FILE to save to" : "one FILE only, not '" + operands[1] + "'");
  }
  LogObject log;
  ZunResult rc = log.Open(kVerb.name);
  if (ZUN_SUCCEEDED(rc)) rc = log.LoadFiles(files, kVerb.name);
  if (ZUN_FAILED(rc)) return kExitFailure;
  rc = log.Get()->vtbl->SaveConfigurationFile(log.Get(), Utf8ToUtf16(operands[0]).c_str(), protect ? 1 : 0);
  if (ZUN_FAILED(rc)) {
    std::fprintf(stderr, "zunlog config save: %s: %s\n", operands[0].c_str(), DescribeResult(rc).c_str());
    return kExitFailure;
  }
  return kExitOk;
}

int Check(int argc, char** argv) {
  static const VerbSpec kVerb{"config check", kCheckHelp, {}};
  std::vector<std::string> operands;
  if (const auto status = ParseOptions(
          argc, argv, kVerb, [](int, const char*) { return std::string(); }, &operands)) {
    return *status;
  }
  if (operands.size() != 1) {
    return UsageError(kVerb,
                      operands.empty() ? "no FILE to check" : "one FILE only, not '" + operands[1] + "'");
  }
  return CheckConfigurationFile(operands[0]);
}

}  // namespace

int RunConfig(int argc, char** argv) {
  static constexpr struct {
    const char* name;
    int (*run)(int, char**);
  } kVerbs[] = {{"show", Show}, {"save", Save}, {"check", Check}};
  if (argc >= 2) {
    for (const auto& verb : kVerbs) {
      if (std::strcmp(argv[1], verb.name) == 0) return verb.run(argc - 1, argv + 1);
    }
    if (std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kConfigHelp, stdout);
      return kExitOk;
    }
    std::fprintf(stderr, "zunlog config: unknown verb '%s'\n%s", argv[1], kConfigHelp);
  } else {
    std::fputs(kConfigHelp, stderr);
  }
  return kExitUsage;
}

}  // namespace zunlog
