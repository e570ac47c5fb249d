// zunlog: a command-line host of the logging library.
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "verbs.h"

namespace {

constexpr char kHelp[] =
    "Usage: zunlog VERB [OPTION]... [ARGUMENT]...\n"
    "A command-line host of the zunlogx logging library.\n"
    "\n"
    "Verbs:\n"
    "  log            log a message, or every line of standard input\n"
    "  config show    print the configuration in effect\n"
    "  config save    write the configuration in effect to a file\n"
    "  config check   apply a configuration file and report each failure\n"
    "  where          print the log folder, the shared configuration folder and the log files\n"
    "  decode         print log files with their protected messages turned back into text\n"
    "\n"
    "  --help         this text ('zunlog VERB --help' for a verb)\n"
    "  --version      the version\n"
    "\n"
    "Exit status: 0 on success, 1 when the verb failed, 2 when it was misused.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return zunlog::kExitUsage;
  }
  const char* verb = argv[1];
  if (std::strcmp(verb, "--help") == 0 || std::strcmp(verb, "-h") == 0) {
    std::fputs(kHelp, stdout);
    return zunlog::kExitOk;
  }
  if (std::strcmp(verb, "--version") == 0) {
    std::printf("zunlog %s\n", ZUNLOGX_VERSION);
    return zunlog::kExitOk;
  }
  static constexpr struct {
    const char* name;
    int (*run)(int, char**);
  } kVerbs[] = {{"log", zunlog::RunLog},
                {"config", zunlog::RunConfig},
                {"where", zunlog::RunWhere},
                {"decode", zunlog::RunDecode}};
  for (const auto& known : kVerbs) {
    if (std::strcmp(verb, known.name) == 0) return known.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "zunlog: unknown verb '%s'\nTry 'zunlog --help'.\n", verb);
  return zunlog::kExitUsage;
}
