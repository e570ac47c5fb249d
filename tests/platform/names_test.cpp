#include "platform/names.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
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
              std::vector<const WString*> seen(8);
              test::RunThreads(8, [&](unsigned i) { seen[i] = &GetCachedHostName(); });
              for (const WString* s : seen) {
                if (s != seen[0]) return std::string("two texts\n");
              }
              // Once computed it no longer follows the environment.
              setenv("COMPUTERNAME", "changed-later", 1);
              return ToUtf8(GetCachedHostName()) + "\n";
            }));
}

}  // namespace
}  // namespace zun
