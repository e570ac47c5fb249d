#include "config/log_locations.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

// Folder cases run in a child process with exactly the environment they
// name, so the folder cache starts empty and the real home plays no part.
namespace zun {
namespace {

namespace fs = std::filesystem;
using test::Outcome;
using test::RunInChild;
using test::WriteFileBytes;

std::string Code(ResultCode rc) { return test::DescribeCode(rc) + "\n"; }

TEST(LogLocations, SpecialFolderThenZunThenThePartsWithOneSeparatorEach) {
  const passwd* me = getpwuid(geteuid());
  const WString id = ToUtf16(std::to_string(me->pw_uid));
  const std::string home = me->pw_dir + std::string(std::string(me->pw_dir).ends_with('/') ? "" : "/");
  const struct {
    std::uint32_t kind;
    WStringView user, first, second;
    std::string expected;
  } cases[] = {
      {14, u"", u"log", u"tower17", "/s/Zun/log/tower17\n"},
      {13, u"", u"", u"x", "/c/Zun/x\n"},
      {13, u"", u"a", u"", "/c/Zun/a/\n"},
      {12, u"", u"log", u"tower17", "/srv\\data\\Zun\\log\\tower17\n"},
      {14, id, u"log", u"t", home + ".local/state/Zun/log/t\n"},
      {14, u"no-such-user-zx", u"log", u"t", Code(RC_LOCATION_NOT_FOUND)},
      {11, u"", u"log", u"t", Code(RC_NOT_SUPPORTED)},
  };
  std::string expected;
  for (const auto& c : cases) expected += c.expected;
  EXPECT_EQ(expected,
            RunInChild({"XDG_STATE_HOME=/s/", "XDG_CONFIG_HOME=/c", "ALLUSERSPROFILE=/srv\\data"}, [&] {
              std::string out;
              for (const auto& c : cases) {
                WString path;
                const ResultCode rc = GetLogLocation(c.kind, c.user, c.first, c.second, &path);
                out += Outcome(rc, path);
              }
              return out;
            }));
}

class LogFolderTest : public test::TempDirTest {};

// The standard folder is made with its parents, and a file in the way fails;
// the shared folder is used only when it is a directory, else the folder of
// the library's file, and nothing is created for it.
TEST_F(LogFolderTest, StandardFolderIsMadeAndTheSharedOneIsUsedOnlyWhenItIsADirectory) {
  WriteFileBytes(PathOf("file"), "x");
  const std::string made = PathOf("state").string() + "/Zun/log/tower17\n";
  const std::string module = fs::read_symlink("/proc/self/exe").parent_path().string() + "\n";
  const fs::path shared = PathOf("common/Zun/log/tower17");
  const auto run = [&](const std::string& state) {
    return RunInChild({"XDG_STATE_HOME=" + state, "ALLUSERSPROFILE=" + PathOf("common").string()}, [] {
      std::string out;
      WString folder;
      for (int i = 0; i < 2; ++i) {
        const ResultCode rc = StandardLogFolder(&folder);
        out += Outcome(rc, folder);
      }
      const ResultCode rc = SharedLogFolder(&folder);
      return out + Outcome(rc, folder);
    });
  };
  EXPECT_EQ(made + made + module, run(PathOf("state").string() + "/"));
  EXPECT_FALSE(fs::exists(PathOf("common")));
  fs::create_directories(shared.parent_path());
  WriteFileBytes(shared, "");
  EXPECT_EQ(Code(RC_ALREADY_EXISTS) + Code(RC_ALREADY_EXISTS) + module, run(PathOf("file").string()));
  fs::remove(shared);
  fs::create_directory(shared);
  EXPECT_EQ(made + made + shared.string() + "\n", run(PathOf("state").string()));
  EXPECT_TRUE(fs::is_directory(PathOf("state/Zun/log/tower17")));
  EXPECT_TRUE(fs::is_regular_file(PathOf("file")));
}

TEST(ExpandVariables, OnePassWithEscapesUnfinishedNamesAndCaseSensitiveNames) {
  const std::pair<WStringView, std::string> cases[] = {
      {u"${home}|${winlocalappdata}|${hostname}|${user}",
       "/home/u|/st|box|" + std::string(getpwuid(geteuid())->pw_name) + "\n"},
      {u"$${process} cost $5 $$$", "${process} cost $5 $$\n"},
      {u"x${home}}${process", "x/home/u}${process\n"},
      {u"${Process}", Code(RC_INVALID_DATA)},
      {u"${home}${}", Code(RC_INVALID_DATA)},
  };
  const auto expand = [](WStringView text) {
    WString out = u"unchanged";
    const ResultCode rc = ExpandVariables(text, &out);
    return Outcome(rc, out) + (Failed(rc) && out != u"unchanged" ? "changed\n" : "");
  };
  std::string expected;
  for (const auto& c : cases) expected += c.second;
  EXPECT_EQ(expected, RunInChild({"USERPROFILE=/home/u", "XDG_STATE_HOME=/st", "COMPUTERNAME=box"}, [&] {
              std::string out;
              for (const auto& c : cases) out += expand(c.first);
              return out;
            }));
  // A failure while a value is determined is the expansion's failure.
  EXPECT_EQ(Code(RC_INSUFFICIENT_BUFFER), RunInChild({"HOME=/" + std::string(250, 'h')},
                                                     [&] { return expand(u"${home}${winlocalappdata}"); }));
}

TEST_F(LogFolderTest, ProcessIsTheImageNameCutBeforeItsLastDot) {
  const std::string host = PathOf("host.v2.exe").string();
  fs::copy_file(test::HostProgram("expand_host"), host);
  const std::string got = RunInChild({}, [&] {
    execl(host.c_str(), host.c_str(), "${process}_${pid}.log", nullptr);
    return std::string("exec failed");
  });
  const std::string pid = got.substr(0, got.find('\n'));
  EXPECT_EQ(pid + "\nhost.v2_" + pid + ".log\n", got);
}

}  // namespace
}  // namespace zun
