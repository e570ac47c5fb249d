#include "config_check.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "command_line.h"
#include "config_text.h"
#include "log_object.h"
#include "unicode.h"

namespace zunlog {

namespace {

// Where the applying of texts stopped: the index of the failing text and
// its code, or the number of texts when all applied.
struct Outcome {
  std::size_t failedText = 0;
  ZunResult code = ZUN_RC_OK;
  int signal = 0;  // the child died of it
};

// Applies the texts in order to a fresh log system. The log system is one
// per process, so each run has a child process of its own: no run sees the
// objects another one made, and a crash of the library stays in the child.
Outcome ApplyInFreshLogSystem(const std::vector<std::u16string>& texts) {
  Outcome outcome{texts.size(), ZUN_RC_OK, 0};
  int fds[2];
  if (pipe(fds) != 0) return {0, ZUN_RC_OUT_OF_MEMORY, 0};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    LogObject log;
    Outcome result{0, log.Open("config check"), 0};
    for (std::size_t i = 0; ZUN_SUCCEEDED(result.code) && i < texts.size(); ++i) {
      result = {i, log.Get()->vtbl->ApplyConfigurationText(log.Get(), texts[i].c_str()), 0};
    }
    if (ZUN_SUCCEEDED(result.code)) result.failedText = texts.size();
    const ssize_t written = write(fds[1], &result, sizeof result);
    _exit(written == sizeof result ? 0 : 1);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return {0, ZUN_RC_OUT_OF_MEMORY, 0};
  }
  ssize_t n;
  while ((n = read(fds[0], &outcome, sizeof outcome)) < 0 && errno == EINTR) {
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (n != sizeof outcome) outcome = {0, ZUN_RC_OK, WIFSIGNALED(status) ? WTERMSIG(status) : SIGABRT};
  return outcome;
}

// What a code means in a configuration section, and the keys whose value
// it points at.
struct CodeMeaning {
  ZunResult code;
  const char* hint;
  std::vector<std::u16string_view> keys;
};

const CodeMeaning* MeaningOf(ZunResult code) {
  static const CodeMeaning kMeanings[] = {
      {ZUN_RC_ITEM_NOT_PRESENT, "a key the section needs is missing", {}},
      {ZUN_RC_APPENDER_NOT_FOUND,
       "no appender type, or no appender, of this name",
       {u"AppenderType", u"AddAppenders"}},
      {ZUN_RC_LAYOUT_NOT_FOUND, "no layout type, or no layout, of this name", {u"LayoutType", u"Layout"}},
      {ZUN_RC_APPENDER_TYPE_MISMATCH, "the appender does not take this type", {u"AppenderType"}},
      {ZUN_RC_LAYOUT_TYPE_MISMATCH, "the layout does not take this type", {u"LayoutType"}},
      {ZUN_RC_TABLE_ERROR_36, "LayoutType = Fw with a Format of its own", {u"Format"}},
      {ZUN_RC_INVALID_DATA, "a ${name} variable that is not defined", {}},
  };
  for (const CodeMeaning& meaning : kMeanings) {
    if (meaning.code == code) return &meaning;
  }
  return nullptr;
}

class Reporter {
 public:
  explicit Reporter(const std::string& path) : path_(path) {}

  void Line(std::size_t line, const std::string& text) { problems_.emplace_back(line, text); }
  void Key(const ConfigSectionText& section, const ConfigKeyLine& key, const std::string& text) {
    Line(key.lineNumber, "[" + Utf16ToUtf8(section.name) + "] " + Utf16ToUtf8(key.name) + " = " +
                             Utf16ToUtf8(key.value) + ": " + text);
  }
  void Section(const ConfigSectionText& section, const std::string& text) {
    Line(section.lineNumber, "[" + Utf16ToUtf8(section.name) + "]: " + text);
  }
  int Finish() {
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [line, text] : problems_) std::printf("%s:%zu: %s\n", path_.c_str(), line, text.c_str());
    if (problems_.empty()) {
      std::printf("%s: no problems\n", path_.c_str());
    } else {
      std::printf("%s: %zu problem%s\n", path_.c_str(), problems_.size(), problems_.size() == 1 ? "" : "s");
    }
    return problems_.empty() ? kExitOk : kExitFailure;
  }

 private:
  std::string path_;
  std::vector<std::pair<std::size_t, std::string>> problems_;
};

std::string Failure(const Outcome& outcome) {
  if (outcome.signal != 0) return std::string("the library stopped with signal ") + strsignal(outcome.signal);
  std::string text = DescribeResult(outcome.code);
  if (const CodeMeaning* meaning = MeaningOf(outcome.code)) text.append(": ").append(meaning->hint);
  return text;
}

// The order in which the library applies a document: layouts, appenders,
// then loggers with the root first, each kind by name. Sections of no kind
// build nothing and are reported here.
std::vector<const ConfigSectionText*> ApplyOrder(const ConfigText& config, Reporter& report) {
  std::vector<std::pair<int, const ConfigSectionText*>> ranked;
  for (const ConfigSectionText& section : config.sections) {
    const ConfigKeyLine* type = section.Find(u"Type");
    int rank;
    if (section.name == u"root") {
      rank = 2;
    } else if (type == nullptr || type->value == u"Logger") {
      rank = 3;
    } else if (type->value == u"Layout") {
      rank = 0;
    } else if (type->value == u"Appender") {
      rank = 1;
    } else {
      report.Key(section, *type, "none of Logger, Appender, Layout: the section builds nothing");
      continue;
    }
    // Names the library would read as INFO without a word.
    const ConfigKeyLine* severity = section.Find(rank == 1 ? u"BreakSeverity" : u"Severity");
    if (rank != 0 && severity != nullptr && !SeverityFromName(Utf16ToUtf8(severity->value))) {
      report.Key(section, *severity,
                 "no severity name (ALL, DEBUG, DETAIL, INFO, WARN, ERROR, FATAL, OFF); read as INFO");
    }
    ranked.emplace_back(rank, &section);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : ConfigNameLess(a.second->name, b.second->name);
  });
  std::vector<const ConfigSectionText*> order;
  for (const auto& entry : ranked) order.push_back(entry.second);
  return order;
}

// The keys of a failing section that carry the fault: those whose absence
// lets the section apply (found by applying it without each key in turn),
// else those that the code points at. "Type" is not tried: without it the
// section would be another kind of object.
std::vector<std::size_t> KeysAtFault(std::vector<std::u16string> texts, const ConfigSectionText& section,
                                     ZunResult code) {
  std::vector<std::size_t> keys;
  for (std::size_t k = 0; k < section.keys.size(); ++k) {
    if (section.keys[k].name == u"Type") continue;
    texts.back() = section.Text(k);
    const Outcome outcome = ApplyInFreshLogSystem(texts);
    if (outcome.signal == 0 && outcome.failedText == texts.size()) keys.push_back(k);
  }
  const CodeMeaning* meaning = MeaningOf(code);
  for (std::size_t k = 0; keys.empty() && meaning != nullptr && k < section.keys.size(); ++k) {
    if (std::find(meaning->keys.begin(), meaning->keys.end(), section.keys[k].name) != meaning->keys.end()) {
      keys.push_back(k);
    }
  }
  return keys;
}

}  // namespace

int CheckConfigurationFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "zunlog config check: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const ConfigText config = ReadConfigText(DecodeConfigurationBytes(bytes));

  Reporter report(path);
  for (const RejectedLine& line : config.rejected)
    report.Line(line.lineNumber, "line ignored: " + line.reason);
  // Each section goes on top of the ones that applied cleanly before it, so
  // one bad section does not hide the next.
  std::vector<std::u16string> applied;
  for (const ConfigSectionText* section : ApplyOrder(config, report)) {
    applied.push_back(section->Text());
    const Outcome outcome = ApplyInFreshLogSystem(applied);
    if (outcome.signal == 0 && outcome.failedText == applied.size()) continue;
    const std::string failure = Failure(outcome);
    const std::vector<std::size_t> keys =
        outcome.signal == 0 ? KeysAtFault(applied, *section, outcome.code) : std::vector<std::size_t>{};
    for (const std::size_t k : keys) report.Key(*section, section->keys[k], failure);
    if (keys.empty()) report.Section(*section, failure);
    applied.pop_back();
  }
  return report.Finish();
}

}  // namespace zunlog
