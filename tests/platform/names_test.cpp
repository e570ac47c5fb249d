#include "platform/names.h"

#include <pwd.h>
#include <unistd.h>

#include <barrier>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

// Restores an environment variable at scope end.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (hadOld_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool hadOld_;
  std::string old_;
};

TEST(HostName, OverrideVariableThenComputerNameThenSystem) {
  WString name;
  {
    ScopedEnv cluster("_CLUSTER_NETWORK_NAME_", "vcluster");
    ScopedEnv computer("COMPUTERNAME", "box");
    ASSERT_RC(0u, GetHostName(&name));
    EXPECT_EQ(u"vcluster", name);
  }
  {
    ScopedEnv cluster("_CLUSTER_NETWORK_NAME_", nullptr);
    ScopedEnv computer("COMPUTERNAME", "b\xc3\xa4r");
    ASSERT_RC(0u, GetHostName(&name));
    EXPECT_EQ(u"b\u00e4r", name);
  }
  ScopedEnv cluster("_CLUSTER_NETWORK_NAME_", nullptr);
  ScopedEnv computer("COMPUTERNAME", nullptr);
  ASSERT_RC(0u, GetHostName(&name));
  char node[256] = {};
  gethostname(node, sizeof node - 1);
  EXPECT_EQ(ToUtf16(node), name);
}

TEST(HostName, CachedOnceForConcurrentFirstCallers) {
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
  for (const WString* s : seen) EXPECT_EQ(seen[0], s);
  EXPECT_FALSE(seen[0]->empty());
  // Once computed it no longer follows the environment.
  const WString first = *seen[0];
  ScopedEnv computer("COMPUTERNAME", "changed-later");
  EXPECT_EQ(first, GetCachedHostName());
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
