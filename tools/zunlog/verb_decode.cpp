// zunlog decode: log files with their protected message texts read back.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "line_reader.h"
#include "log_decoder.h"
#include "verbs.h"

namespace zunlog {

namespace {

constexpr char kHelp[] =
    "Usage: zunlog decode --key PRIVATE.pem [FILE]...\n"
    "Prints log files (standard input when no FILE is given) line by line with\n"
    "their protected message texts turned back into plain text: scrambled \"a\"\n"
    "texts, \"b\" texts encrypted for the public key, and \"d\" texts of a session,\n"
    "read with the session key of that session's key record (a line of the logger\n"
    "ZUN.LOG.SM whose message starts with \"c\") found anywhere in the inputs.\n"
    "Several processes, hence several sessions and key records, may share a file.\n"
    "\n"
    "Lines of the standard layout have their message after \"MSG:\"; in lines of\n"
    "other layouts a whole line in any form, and any word in the \"b\" or \"d\"\n"
    "form, is read back. A line that cannot be read (damaged, of a session without\n"
    "a key record, or for another key) is printed as it stands after the marker\n"
    "\"?? [reason] \"; no line is dropped. Input in UTF-8 or UTF-16LE with a\n"
    "byte-order mark; output in UTF-8 with each line's end as read. A progress\n"
    "bar shows on standard error for large inputs when it is a terminal.\n"
    "\n"
    "  -k, --key=FILE  the RSA private key, PEM (required)\n"
    "      --help      this text\n"
    "\n"
    "Exit status: 0 when every line was read, 1 when a line or an input could\n"
    "not be, 2 on misuse.\n";

constexpr char kMarker[] = "?? ";

struct Input {
  std::string name;
  std::FILE* file;
  std::uint64_t size;
};

// A bar on standard error while the inputs are read, when it is a terminal
// and there is enough to read for it to matter.
class Progress {
 public:
  explicit Progress(std::uint64_t total)
      : total_(total), shown_(total >= (8u << 20) && isatty(STDERR_FILENO)) {}
  ~Progress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
  }
  void Advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    const auto percent = static_cast<int>(done_ * 100 / total_);
    if (percent == percent_) return;
    percent_ = percent;
    drawn_ = true;
    const int filled = percent * 40 / 100;
    std::fprintf(stderr, "\rzunlog decode [%.*s%*s] %3d%%", filled,
                 "########################################", 40 - filled, "", percent);
    std::fflush(stderr);
  }

 private:
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  bool shown_;
  bool drawn_ = false;
  int percent_ = -1;
};

// A stream read twice: files that cannot be read again (standard input,
// pipes) are copied to a temporary file first.
bool OpenInput(const std::string& name, Input* input) {
  std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  struct stat facts {};
  if (file == nullptr || fstat(fileno(file), &facts) != 0) return false;
  if (!S_ISREG(facts.st_mode)) {
    std::FILE* copy = std::tmpfile();
    if (copy == nullptr) return false;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      if (std::fwrite(buffer, 1, n, copy) != n) return false;
    }
    if (std::ferror(file) || std::fflush(copy) != 0 || fstat(fileno(copy), &facts) != 0) return false;
    if (file != stdin) std::fclose(file);
    std::rewind(copy);
    file = copy;
  }
  *input = {name == "-" ? "standard input" : name, file, static_cast<std::uint64_t>(facts.st_size)};
  return true;
}

}  // namespace

int RunDecode(int argc, char** argv) {
  static const VerbSpec kVerb{"decode", kHelp, {{"key", 'k', true}}};
  std::string keyPath;
  std::vector<std::string> names;
  const auto take = [&](int, const char* value) {
    keyPath = value;
    return std::string();
  };
  if (const auto status = ParseOptions(argc, argv, kVerb, take, &names)) return *status;
  if (keyPath.empty()) return UsageError(kVerb, "no --key: the private key is needed");
  if (names.empty()) names.emplace_back("-");

  LogDecoder decoder;
  if (const std::string error = decoder.LoadPrivateKey(keyPath); !error.empty()) {
    std::fprintf(stderr, "zunlog decode: %s: %s\n", keyPath.c_str(), error.c_str());
    return kExitFailure;
  }
  int status = kExitOk;
  std::vector<Input> inputs;
  std::uint64_t total = 0;
  for (const std::string& name : names) {
    Input input{};
    if (!OpenInput(name, &input)) {
      std::fprintf(stderr, "zunlog decode: cannot read %s: %s\n", name.c_str(), std::strerror(errno));
      status = kExitFailure;
      continue;
    }
    inputs.push_back(input);
    total += input.size;
  }

  Progress progress(2 * total);
  std::string line, end, out, reason;
  for (const Input& input : inputs) {
    LineReader reader(input.file);
    while (reader.Next(&line, &end)) decoder.CollectKey(line);
    progress.Advance(reader.BytesRead());
    std::rewind(input.file);
  }
  for (const Input& input : inputs) {
    LineReader reader(input.file);
    std::uint64_t reported = 0;
    while (reader.Next(&line, &end)) {
      if (decoder.DecodeLine(line, &out, &reason)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
      } else {
        out = std::string(kMarker) + "[" + reason + "] " + line;
        std::fwrite(out.data(), 1, out.size(), stdout);
        status = kExitFailure;
      }
      std::fwrite(end.data(), 1, end.size(), stdout);
      progress.Advance(reader.BytesRead() - reported);
      reported = reader.BytesRead();
    }
    if (input.file != stdin) std::fclose(input.file);
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "zunlog decode: cannot write the output: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  return status;
}

}  // namespace zunlog
