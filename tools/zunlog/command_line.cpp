#include "command_line.h"

#include <getopt.h>
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "zunlogx/zunlogx.h"

namespace zunlog {

namespace {

constexpr int kHelpOption = 0x100;

template <typename T>
std::optional<T> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < std::numeric_limits<T>::min() ||
      value > std::numeric_limits<T>::max()) {
    return std::nullopt;
  }
  return static_cast<T>(value);
}

}  // namespace

int UsageError(const VerbSpec& verb, const std::string& message) {
  std::fprintf(stderr, "zunlog %s: %s\nTry 'zunlog %s --help'.\n", verb.name, message.c_str(), verb.name);
  return kExitUsage;
}

std::optional<int> ParseOptions(int argc, char** argv, const VerbSpec& verb,
                                const std::function<std::string(int option, const char* value)>& take,
                                std::vector<std::string>* operands) {
  std::string shortOptions = ":";
  std::vector<option> longOptions;
  for (const Option& o : verb.options) {
    if (o.shortName < 0x100)
      shortOptions.append(1, static_cast<char>(o.shortName)).append(o.takesValue ? ":" : "");
    longOptions.push_back({o.longName, o.takesValue ? required_argument : no_argument, nullptr, o.shortName});
  }
  longOptions.push_back({"help", no_argument, nullptr, kHelpOption});
  longOptions.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 0;  // a full restart of getopt for each verb
  for (;;) {
    const int c = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
    if (c == -1) break;
    // The option as written: a long one from its argument, a short one
    // (perhaps inside a cluster) from its letter.
    const std::string last = argv[optind > 0 && optind <= argc ? optind - 1 : 0];
    const std::string seen = last.starts_with("--")         ? last.substr(0, last.find('='))
                             : optopt > 0 && optopt < 0x100 ? std::string("-") + static_cast<char>(optopt)
                                                            : last;
    if (c == kHelpOption) {
      std::fputs(verb.help, stdout);
      return kExitOk;
    }
    if (c == '?') return UsageError(verb, "unknown option '" + seen + "'");
    if (c == ':') return UsageError(verb, "option '" + seen + "' needs a value");
    const std::string refusal = take(c, optarg);
    if (!refusal.empty()) return UsageError(verb, refusal);
  }
  operands->assign(argv + optind, argv + argc);
  return std::nullopt;
}

std::optional<std::int32_t> SeverityFromName(const std::string& text) {
  static constexpr struct {
    const char* name;
    std::int32_t value;
  } kNames[] = {{"ALL", ZUN_SEVERITY_ALL},     {"DEBUG", ZUN_SEVERITY_DEBUG}, {"DETAIL", ZUN_SEVERITY_DETAIL},
                {"INFO", ZUN_SEVERITY_INFO},   {"WARN", ZUN_SEVERITY_WARN},   {"ERROR", ZUN_SEVERITY_ERROR},
                {"FATAL", ZUN_SEVERITY_FATAL}, {"OFF", ZUN_SEVERITY_OFF}};
  for (const auto& named : kNames) {
    if (strcasecmp(text.c_str(), named.name) == 0) return named.value;
  }
  return std::nullopt;
}

std::optional<std::int32_t> ParseSeverity(const std::string& text) {
  if (const auto named = SeverityFromName(text)) return named;
  return ParseNumber<std::int32_t>(text);
}

std::optional<std::uint32_t> ParseProtectionMode(const std::string& text) {
  static constexpr struct {
    const char* name;
    std::uint32_t value;
  } kNames[] = {{"none", ZUN_PROTECT_NONE},
                {"scramble", ZUN_PROTECT_SCRAMBLE},
                {"scramble2", ZUN_PROTECT_SCRAMBLE2},
                {"public-key", ZUN_PROTECT_PUBLIC_KEY},
                {"session", ZUN_PROTECT_SESSION}};
  for (const auto& named : kNames) {
    if (strcasecmp(text.c_str(), named.name) == 0) return named.value;
  }
  return ParseNumber<std::uint32_t>(text);
}

}  // namespace zunlog
