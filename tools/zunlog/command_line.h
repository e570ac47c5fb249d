#pragma once
// What every verb shares: exit statuses, option parsing with getopt_long,
// and the values options take.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zunlog {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Option {
  const char* longName;
  int shortName;  // a letter, or a number above 255 for a long-only option
  bool takesValue;
};

struct VerbSpec {
  const char* name;  // "log", "config check"
  const char* help;
  std::vector<Option> options;
};

// Reports a misuse of the verb on standard error; returns kExitUsage.
int UsageError(const VerbSpec& verb, const std::string& message);

// Parses argv[1..] (argv[0] names the verb). "--help" prints the help and
// gives kExitOk. An unknown option, a missing value, or a message from
// `take` (which gets each option and its value) is reported and gives
// kExitUsage. Otherwise gives nothing and leaves the other arguments in
// `operands`.
std::optional<int> ParseOptions(int argc, char** argv, const VerbSpec& verb,
                                const std::function<std::string(int option, const char* value)>& take,
                                std::vector<std::string>* operands);

// A severity name in any letter case, as configuration text takes it.
std::optional<std::int32_t> SeverityFromName(const std::string& text);
// A severity name, or a decimal number.
std::optional<std::int32_t> ParseSeverity(const std::string& text);
// none, scramble, scramble2, public-key, session, or a number.
std::optional<std::uint32_t> ParseProtectionMode(const std::string& text);

}  // namespace zunlog
