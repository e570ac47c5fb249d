#include "platform/names.h"

#include <pwd.h>
#include <unistd.h>

#include <barrier>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

// Host names run in a child process with exactly the environment given.
TEST(HostName, OverrideVariableThenComputerNameThenSystem) {
  char node[256] = {};
  gethostname(node, sizeof node - 1);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"_CLUSTER_NETWORK_NAME_=vcluster", "COMPUTERNAME=box"}, "vcluster\n"},
      {{"COMPUTERNAME=b\xc3\xa4r"}, "b\xc3\xa4r\n"},
      {{}, std::string(node) + "\n"},
  };
  for (const auto& [environment, expected] : cases) {
    EXPECT_EQ(expected, test::RunInChild(environment, [] {
                WString name;
                const ResultCode rc = GetHostName(&name);
                return test::Outcome(rc, name);
              }));
  }
}

TEST(HostName, CachedOnceForConcurrentFirstCallers) {
  EXPECT_EQ("box\n", test::RunInChild({"COMPUTERNAME=box"}, [] {
              constexpr int kThreads = 8;
              std::barrier start(kThreads);
              std::vector<const WString*> seen(kThreads);
              std::vector<std::thread> threads;
              for (int i = 0; i < kThreads; ++i) {
                threads.emplace_back([&, i] {
                  start.arrive_and_wait();
                  seen[i] = &GetCachedHostName();
                });
              }
              for (auto& t : threads) t.join();
              for (const WString* s : seen) {
                if (s != seen[0]) return std::string("two texts\n");
              }
              // Once computed it no longer follows the environment.
              setenv("COMPUTERNAME", "changed-later", 1);
              return ToUtf8(GetCachedHostName()) + "\n";
            }));
}

TEST(AccountName, PasswordEntryOfTheEffectiveUser) {
  WString name;
  ASSERT_RC(0u, GetAccountName(&name));
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(ToUtf16(entry->pw_name), name);
}

}  // namespace
}  // namespace zun
