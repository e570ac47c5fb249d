#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/names.h"
#include "support/test_support.h"

// The host name and the special folders come from the environment. Every
// case runs in a child process with exactly the environment it names, so the
// caches start empty and the real home plays no part.
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

std::string AllFolders() {
  return Folders({kFolderProfile, kFolderAppData, kFolderCommonAppData, kFolderLocalAppData});
}

std::string HostName() {
  WString name;
  const ResultCode rc = GetHostName(&name);
  return test::Outcome(rc, name);
}

TEST(SpecialFolders, SourcesInOrderSkippingRelativeOrEmptyValuesAndPathsOver258Units) {
  const std::string home = getpwuid(geteuid())->pw_dir;
  const std::string under = home.ends_with('/') ? home : home + "/";
  char node[256] = {};
  gethostname(node, sizeof node - 1);
  std::string e258 = "/";  // 258 units in 515 bytes
  for (int i = 0; i < 257; ++i) e258 += "\xc3\xa9";
  const struct {
    std::vector<std::string> environment;
    std::string (*lookup)();
    std::string expected;
  } cases[] = {
      {{"_CLUSTER_NETWORK_NAME_=vcluster", "COMPUTERNAME=box"}, HostName, "vcluster\n"},
      {{}, HostName, std::string(node) + "\n"},
      {{"USERPROFILE=/p/u", "HOME=/h"}, AllFolders, "/p/u\n/p/u/.config\n/var/lib\n/p/u/.local/state\n"},
      {{"HOME=/h/", "XDG_CONFIG_HOME=/c", "XDG_STATE_HOME=/s", "ALLUSERSPROFILE=/all", "APPDATA=/a",
        "LOCALAPPDATA=/l"},
       AllFolders,
       "/h/\n/c\n/all\n/s\n"},
      {{"USERPROFILE=", "HOME=rel", "XDG_STATE_HOME=state", "XDG_CONFIG_HOME=", "ALLUSERSPROFILE=x"},
       AllFolders,
       home + "\n" + under + ".config\n/var/lib\n" + under + ".local/state\n"},
      {{"USERPROFILE=/" + std::string(258, 'u'), "HOME=" + e258, "ALLUSERSPROFILE=" + e258,
        "XDG_STATE_HOME=/" + std::string(258, 's'), "LOCALAPPDATA=/l"},
       AllFolders,
       e258 + "\n" + test::DescribeCode(RC_INSUFFICIENT_BUFFER) + "\n" + e258 + "\n/l\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, test::RunInChild(c.environment, c.lookup)) << c.expected;
  }
}

// The first requests come from several threads at once; after them the
// environment changes. The host name and the folders found are kept; a
// folder not found is looked for again.
TEST(SpecialFolders, ConcurrentFirstCallersSeeOneValueThatIsKeptWhileMissingOnesAreLookedForAgain) {
  constexpr int kThreads = 8;
  const std::string h250 = "/" + std::string(250, 'h');  // too long with "/.config"
  const std::string first = "/first\n" + test::DescribeCode(RC_INSUFFICIENT_BUFFER) + "\n";
  std::string expected;
  for (int i = 0; i < kThreads; ++i) expected += first;
  EXPECT_EQ(expected + "/a\n/first\n" + h250 + "\nbox\n",
            test::RunInChild({"HOME=" + h250, "XDG_STATE_HOME=/first", "COMPUTERNAME=box"}, [] {
              std::vector<std::string> seen(kThreads);
              std::vector<const WString*> names(kThreads);
              test::RunThreads(kThreads, [&](unsigned i) {
                names[i] = &GetCachedHostName();
                seen[i] = Folders({kFolderLocalAppData, kFolderAppData});
              });
              std::string out;
              for (int i = 0; i < kThreads; ++i) out += names[i] == names[0] ? seen[i] : "two host names\n";
              setenv("APPDATA", "/a", 1);
              setenv("XDG_STATE_HOME", "/second", 1);
              setenv("HOME", "/other", 1);
              setenv("COMPUTERNAME", "changed-later", 1);
              return out + Folders({kFolderAppData, kFolderLocalAppData, kFolderProfile}) +
                     ToUtf8(GetCachedHostName()) + "\n";
            }));
}

}  // namespace
}  // namespace zun
