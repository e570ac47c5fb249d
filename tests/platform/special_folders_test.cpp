#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <barrier>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/test_support.h"

// Every case runs in a child process with exactly the environment it names,
// so the folder cache starts empty and the real home plays no part.
namespace zun {
namespace {

std::string Folders(const std::vector<SpecialFolderKind>& kinds) {
  std::string out;
  for (const SpecialFolderKind kind : kinds) {
    WString folder;
    const ResultCode rc = GetSpecialFolder(kind, &folder);
    out += test::Outcome(rc, folder);
  }
  return out;
}

TEST(SpecialFolders, SourcesInOrderSkippingRelativeOrEmptyValuesAndPathsOver258Units) {
  const std::string home = getpwuid(geteuid())->pw_dir;
  const std::string under = home.ends_with('/') ? home : home + "/";
  std::string e258 = "/";  // 258 units in 515 bytes
  for (int i = 0; i < 257; ++i) e258 += "\xc3\xa9";
  const struct {
    std::vector<std::string> environment;
    std::string expected;
  } cases[] = {
      {{"USERPROFILE=/p/u", "HOME=/h"}, "/p/u\n/p/u/.config\n/var/lib\n/p/u/.local/state\n"},
      {{"HOME=/h/", "XDG_CONFIG_HOME=/c", "XDG_STATE_HOME=/s", "ALLUSERSPROFILE=/all", "APPDATA=/a",
        "LOCALAPPDATA=/l"},
       "/h/\n/c\n/all\n/s\n"},
      {{"USERPROFILE=", "HOME=rel", "XDG_STATE_HOME=state", "XDG_CONFIG_HOME=", "ALLUSERSPROFILE=x"},
       home + "\n" + under + ".config\n/var/lib\n" + under + ".local/state\n"},
      {{"USERPROFILE=/" + std::string(258, 'u'), "HOME=" + e258, "ALLUSERSPROFILE=" + e258,
        "XDG_STATE_HOME=/" + std::string(258, 's'), "LOCALAPPDATA=/l"},
       e258 + "\n" + test::DescribeCode(RC_INSUFFICIENT_BUFFER) + "\n" + e258 + "\n/l\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        c.expected,
        test::RunInChild(
            c.environment,
            [] {
              return Folders({kFolderProfile, kFolderAppData, kFolderCommonAppData, kFolderLocalAppData});
            }))
        << c.environment[0];
  }
  WString folder = u"unchanged";
  EXPECT_RC(RC_INVALID_PARAMETER, GetSpecialFolder(22, &folder));
  EXPECT_RC(RC_NOT_SUPPORTED, GetSpecialFolder(5, &folder));
  EXPECT_EQ(u"unchanged", folder);
}

// The first requests come from several threads at once; after them the
// environment changes.
TEST(SpecialFolders, ConcurrentFirstCallersSeeOneValueThatIsKeptWhileMissingOnesAreLookedForAgain) {
  constexpr int kThreads = 8;
  const std::string h250 = "/" + std::string(250, 'h');  // too long with "/.config"
  const std::string first = "/first\n" + test::DescribeCode(RC_INSUFFICIENT_BUFFER) + "\n";
  std::string expected;
  for (int i = 0; i < kThreads; ++i) expected += first;
  EXPECT_EQ(expected + "/a\n/first\n" + h250 + "\n",
            test::RunInChild({"HOME=" + h250, "XDG_STATE_HOME=/first"}, [] {
              std::barrier start(kThreads);
              std::vector<std::string> seen(kThreads);
              std::vector<std::thread> threads;
              for (int i = 0; i < kThreads; ++i) {
                threads.emplace_back([&, i] {
                  start.arrive_and_wait();
                  seen[i] = Folders({kFolderLocalAppData, kFolderAppData});
                });
              }
              std::string out;
              for (int i = 0; i < kThreads; ++i) {
                threads[i].join();
                out += seen[i];
              }
              setenv("APPDATA", "/a", 1);
              setenv("XDG_STATE_HOME", "/second", 1);
              setenv("HOME", "/other", 1);
              return out + Folders({kFolderAppData, kFolderLocalAppData, kFolderProfile});
            }));
}

}  // namespace
}  // namespace zun
