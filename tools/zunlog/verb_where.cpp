// zunlog where: the folders and files a host's logging reaches.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "config_text.h"
#include "log_object.h"
#include "unicode.h"
#include "verbs.h"

namespace zunlog {

namespace {

constexpr char kHelp[] =
    "Usage: zunlog where [-c FILE]...\n"
    "Prints where logging goes with the default configuration and the files named\n"
    "with -c, loaded in order:\n"
    "  log folder            the per-user log folder, where relative file names\n"
    "                        of the configuration land\n"
    "  configuration folder  the shared configuration folder, and whether it\n"
    "                        holds privlog.cfg, which the library loads before\n"
    "                        the first configuration file of a process\n"
    "  files                 each appender that writes a file, and the file\n"
    "\n"
    "  -c, --config=FILE  load a configuration file (repeatable)\n"
    "      --help         this text\n";

// An appender (with a layout of its own) that the tool adds to learn where
// the library puts a relative file name; it never writes.
constexpr char16_t kProbeName[] = u"zunlog where probe";
constexpr char16_t kProbeText[] =
    u"[zunlog where probe]\nType = Appender\nAppenderType = File\nFileName = zunlog-where-probe\n"
    u"Layout = zunlog where probe layout\n\n"
    u"[zunlog where probe layout]\nType = Layout\nLayoutType = Standard\n";

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

int RunWhere(int argc, char** argv) {
  static const VerbSpec kVerb{"where", kHelp, {{"config", 'c', true}}};
  std::vector<std::string> files, operands;
  const auto take = [&](int, const char* value) {
    files.emplace_back(value);
    return std::string();
  };
  if (const auto status = ParseOptions(argc, argv, kVerb, take, &operands)) return *status;
  if (!operands.empty()) return UsageError(kVerb, "unexpected argument '" + operands.front() + "'");

  LogObject log;
  ILog* object = nullptr;
  ZunResult rc = log.Open(kVerb.name);
  if (ZUN_SUCCEEDED(rc)) rc = log.LoadFiles(files, kVerb.name);
  if (ZUN_FAILED(rc)) return kExitFailure;
  object = log.Get();
  std::u16string configFolder, text;
  const char* step = "log folder";
  rc = object->vtbl->ApplyConfigurationText(object, kProbeText);
  if (ZUN_SUCCEEDED(rc)) {
    step = "configuration text";
    rc = log.ConfigurationText(&text);
  }
  if (ZUN_SUCCEEDED(rc)) {
    step = "configuration folder";
    rc = object->vtbl->UseStandardConfigurationFolder(object);
  }
  if (ZUN_SUCCEEDED(rc)) rc = log.ConfigurationFolder(&configFolder);
  if (ZUN_FAILED(rc)) {
    std::fprintf(stderr, "zunlog where: %s: %s\n", step, DescribeResult(rc).c_str());
    return kExitFailure;
  }

  std::string logFolder;
  std::vector<std::pair<std::string, std::string>> written;
  for (const ConfigSectionText& section : ReadConfigText(text).sections) {
    const ConfigKeyLine* type = section.Find(u"Type");
    const ConfigKeyLine* fileName = section.Find(u"FileName");
    if (type == nullptr || type->value != u"Appender" || fileName == nullptr) continue;
    if (section.name == kProbeName) {
      logFolder = ParentFolder(Utf16ToUtf8(fileName->value));
    } else {
      written.emplace_back(Utf16ToUtf8(section.name), Utf16ToUtf8(fileName->value));
    }
  }
  const std::string shared = Utf16ToUtf8(configFolder);
  const bool privateFile = !shared.empty() && access((shared + "/privlog.cfg").c_str(), F_OK) == 0;
  std::printf("log folder: %s\n", logFolder.c_str());
  std::printf("configuration folder: %s (%s)\n", shared.c_str(),
              privateFile ? "with privlog.cfg" : "no privlog.cfg");
  std::printf("files:\n");
  for (const auto& [appender, path] : written) std::printf("  %s: %s\n", appender.c_str(), path.c_str());
  return kExitOk;
}

}  // namespace zunlog
