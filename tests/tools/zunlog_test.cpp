// zunlog run as a user runs it: real processes, real log and configuration
// files, the development private key.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zun::test {
namespace {

using namespace std::string_literals;

struct Outcome {
  int status;
  std::string out, err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text);
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Utf16Le(const std::string& text) {
  const WString units = ToUtf16(text);
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(units.data()), 2 * units.size());
}

bool IsKeyRecord(const std::string& line) { return line.starts_with("[ZUN.LOG.SM] "); }

// The records of a log as "[logger] SEVERITY message", key records left out.
std::vector<std::string> Records(const std::string& text) {
  std::vector<std::string> records;
  for (const std::string& line : Lines(text)) {
    const std::size_t message = line.find(" MSG:");
    if (IsKeyRecord(line) || message == std::string::npos) continue;
    records.push_back(line.substr(0, line.find(' ', line.find("] ") + 2)) + " " + line.substr(message + 5));
  }
  return records;
}

class ZunlogTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    // The log system makes its folders here, not in the home.
    setenv("XDG_STATE_HOME", PathOf("state").c_str(), 1);
    setenv("ALLUSERSPROFILE", PathOf("shared").c_str(), 1);
  }

  Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    WriteFileBytes(PathOf("stdin"), input);
    std::vector<char*> argv{const_cast<char*>("zunlog")};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(PathOf("stdin").c_str(), O_RDONLY), 0);
      dup2(open(PathOf("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open(PathOf("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      execv(ZUNLOG_PROGRAM, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(PathOf("stdout")),
            ReadFileBytes(PathOf("stderr"))};
  }

  // A configuration file that writes records above Info to `log`.
  std::string Config(const std::string& name, const std::string& log) {
    WriteFileBytes(PathOf(name),
                   "[root]\nSeverity = Info\nAddAppenders = f\n[line]\nType = Layout\n"
                   "LayoutType = Standard\n[f]\nType = Appender\nAppenderType = File\n"
                   "Layout = line\nFileName = " +
                       PathOf(log).string() + "\n");
    return PathOf(name).string();
  }
};

TEST_F(ZunlogTest, LogWritesEachMessageOrInputLineAndReportsWhatFails) {
  struct Case {
    std::string log;  // below a plain file, it cannot be made
    std::vector<std::string> args;
    std::string input;
    int status;
    std::vector<std::string> records;
    std::string error;
  };
  const Case cases[] = {
      {"a.log", {"--severity=WARN"}, "a\nb\n", 0, {"[zunlog] WARN a", "[zunlog] WARN b"}, ""},
      {"b.log", {"-n", "app.part", "-s", "error", "two", "words"}, "", 0, {"[app.part] ERROR two words"}, ""},
      {"d.log", {"-s", "LOUD"}, "", 2, {}, "'LOUD'"},
      {"e.log", {"--bogus"}, "", 2, {}, "'--bogus'"},
      {"f.log", {"-n", "has blank"}, "x\n", 1, {}, "ZUN_RC_INVALID_LOGGER_NAME"},
      {"g.log", {"-c", PathOf("missing.cfg").string(), "x"}, "", 1, {}, "ZUN_RC_FILE_NOT_FOUND"},
      {"plain/x.log", {"-s", "FATAL"}, "x\n", 1, {}, "line 1: ZUN_RC_"},
  };
  WriteFileBytes(PathOf("plain"), "");
  for (const Case& c : cases) {
    std::vector<std::string> args{"log", "-c", Config("case.cfg", c.log)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = Run(args, c.input);
    EXPECT_EQ(c.status, run.status) << c.log << ": " << run.err;
    EXPECT_EQ(c.records, Records(ReadFileBytes(PathOf(c.log)))) << c.log;
    EXPECT_NE(std::string::npos, run.err.find(c.error)) << c.log << ": " << run.err;
  }
}

TEST_F(ZunlogTest, ConfigCheckNamesEachFailingSectionAndKey) {
  const std::string appender = "[f]\nType = Appender\nAppenderType = File\nFileName = f.log\nLayout = line\n";
  const std::string layout = "[line]\nType = Layout\nLayoutType = Standard\n";
  struct Case {
    std::string text;
    int status;
    std::vector<std::string> reports;
  };
  const Case cases[] = {
      {"[root]\nAddAppenders = f\n" + appender + layout, 0, {"no problems"}},
      {"[root]\nSeverity = Loud\nAddAppenders = f\n" + appender + layout +
           "[db]\nType = Appender\nAppenderType = Database\nFileName = db.log\n",
       1,
       {"check.cfg:2: [root] Severity = Loud: no severity name",
        "check.cfg:14: [db] AppenderType = Database: ZUN_RC_APPENDER_NOT_FOUND", "2 problems"}},
      {"stray\n[g]\nType = Appender\nAppenderType = File\nLayout = nowhere\nFileName = g.log\n[root]\n"
       "Severity = ERROR\nAddAppenders = g\n",
       1,
       {"check.cfg:1: line ignored: no \"=\"", "check.cfg:5: [g] Layout = nowhere: ZUN_RC_LAYOUT_NOT_FOUND",
        "check.cfg:9: [root] AddAppenders = g: ZUN_RC_APPENDER_NOT_FOUND", "3 problems"}},
      // Windows-1252 without a mark, as the library reads a file that is not UTF-8.
      {"[caf\xE9]\nAdditive = ${nope}\n[l]\nType = Layout\nLayoutType = Fw\nFormat = %msg\n",
       1,
       {"check.cfg:2: [caf\u00e9] Additive = ${nope}: ZUN_RC_INVALID_DATA",
        "check.cfg:6: [l] Format = %msg: ZUN_RC_TABLE_ERROR_36", "2 problems"}},
      {Utf16Le("[root]\r\nSeverity = L\u00f4ud\r\n"),
       1,
       {"check.cfg:2: [root] Severity = L\u00f4ud: no", "1 problem"}},
  };
  for (const Case& c : cases) {
    WriteFileBytes(PathOf("check.cfg"), c.text);
    const Outcome run = Run({"config", "check", PathOf("check.cfg").string()});
    EXPECT_EQ(c.status, run.status) << run.out << run.err;
    for (const std::string& report : c.reports) EXPECT_NE(std::string::npos, run.out.find(report)) << run.out;
    EXPECT_EQ(c.reports.size(), Lines(run.out).size()) << run.out;
  }
  EXPECT_EQ(2, Run({"config", "check"}).status);
}

TEST_F(ZunlogTest, ConfigurationVerbsShowWhatIsInEffect) {
  const std::string config = Config("shown.cfg", "shown.log");
  const Outcome shown = Run({"config", "show", "-c", config});
  EXPECT_EQ(0, shown.status) << shown.err;
  EXPECT_NE(std::string::npos, shown.out.find("FileName = " + PathOf("shown.log").string() + "\n"))
      << shown.out;

  EXPECT_EQ(0, Run({"config", "save", "-c", config, PathOf("saved.cfg").string()}).status);
  const std::string saved = ReadFileBytes(PathOf("saved.cfg"));
  EXPECT_TRUE(saved.starts_with("\xFF\xFE"s)) << saved;
  EXPECT_NE(std::string::npos, saved.find("\n\0[\0f\0]\0\r\0\n\0"s)) << saved;

  // The default configuration's appender, no longer used, may still be listed.
  const Outcome where = Run({"where", "-c", config});
  const std::vector<std::string> lines = Lines(where.out);
  EXPECT_EQ(0, where.status) << where.err;
  ASSERT_LE(4u, lines.size()) << where.out;
  EXPECT_EQ("log folder: " + PathOf("state").string() + "/Zun/log/tower17", lines[0]);
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "  f: " + PathOf("shown.log").string()))
      << where.out;
}

// One process for each text, so each writes its own key record; the log
// is read back whole, in UTF-16LE, and with damaged lines, which are kept
// and marked.
TEST_F(ZunlogTest, DecodeReadsEveryProtectionModeBackAndMarksLinesItCannotRead) {
#if !ZUNLOGX_DEVELOPMENT_KEY
  GTEST_SKIP() << "built for another public key than the development key";
#endif
  const struct {
    std::string mode;
    char form;  // the first letter written, 0 for the plain text
    std::string text;
  } logged[] = {
      {"none", 0, "plain \u00e9"},
      {"scramble", 'a', "scrambled \u4e2d\u6587"},
      {"7", 'a', "any other mode scrambles"},
      {"public-key", 'b', "two RSA blocks " + std::string(300, 'p') + " \u20ac"},
      {"session", 'd', "session one \U0001F600"},
      {"session", 'd', "session two, several blocks " + std::string(40, 's')},
  };
  const std::string config = Config("protect.cfg", "protect.log");
  std::vector<std::string> expected;
  for (const auto& l : logged) {
    ASSERT_EQ(0, Run({"log", "-c", config, "-p", l.mode, l.text}).status);
    expected.push_back("[zunlog] WARN " + l.text);
  }
  const std::string log = ReadFileBytes(PathOf("protect.log"));
  const std::vector<std::string> raw = Lines(log), written = Records(log);
  std::set<std::string> sessions;
  ASSERT_EQ(std::size(logged), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::string message = written[i].substr(std::string("[zunlog] WARN ").size());
    EXPECT_TRUE(logged[i].form == 0 ? message == logged[i].text : message.front() == logged[i].form)
        << message;
    if (logged[i].form == 'd') sessions.insert(message.substr(1, 20));
  }
  EXPECT_EQ(2u, sessions.size());
  EXPECT_EQ(std::size(logged), static_cast<std::size_t>(std::count_if(raw.begin(), raw.end(), IsKeyRecord)));

  const auto decode = [&](const std::vector<std::string>& files, const std::string& input = "") {
    std::vector<std::string> args{"decode", "--key", ZUNLOGX_TEST_DATA_DIR "/protect/dev_private_key.pem"};
    args.insert(args.end(), files.begin(), files.end());
    return Run(args, input);
  };
  const Outcome decoded = decode({PathOf("protect.log").string()});
  EXPECT_EQ(0, decoded.status) << decoded.err;
  EXPECT_EQ(expected, Records(decoded.out));
  EXPECT_EQ(raw.size(), Lines(decoded.out).size());
  WriteFileBytes(PathOf("wide.log"), Utf16Le(log.substr(3)));
  EXPECT_EQ(decoded.out, decode({PathOf("wide.log").string()}).out);

  struct Damage {
    std::size_t record;
    void (*apply)(std::string& line);
    std::string reason;
  };
  const Damage damages[] = {
      {4, [](std::string& line) { line.erase(line.size() - 4); }, "length or base64 is damaged"},
      {3, [](std::string& line) { line[line.size() - 40] = line[line.size() - 40] == 'A' ? 'B' : 'A'; },
       "does not decrypt"},
      {5, [](std::string& line) { line[line.find(" MSG:d") + 6] ^= 1; }, "no key record of session"},
  };
  std::vector<std::string> lines = raw;
  std::vector<std::size_t> recordLines;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsKeyRecord(lines[i])) recordLines.push_back(i);
  }
  std::string damaged;
  for (const Damage& d : damages) d.apply(lines[recordLines[d.record]]);
  for (const std::string& line : lines) damaged += line + "\r\n";
  const Outcome marked = decode({}, damaged);
  EXPECT_EQ(1, marked.status);
  const std::vector<std::string> out = Lines(marked.out);
  ASSERT_EQ(lines.size(), out.size());
  for (const Damage& d : damages) {
    const std::string& line = out[recordLines[d.record]];
    EXPECT_TRUE(line.starts_with("?? [")) << line;
    EXPECT_NE(std::string::npos, line.find(d.reason)) << line;
    EXPECT_TRUE(line.ends_with("] " + lines[recordLines[d.record]])) << line;
  }
  for (std::size_t record = 0; record < 3; ++record) EXPECT_EQ(expected[record], Records(marked.out)[record]);
  EXPECT_EQ(2, Run({"decode", PathOf("protect.log").string()}).status);
}

}  // namespace
}  // namespace zun::test
