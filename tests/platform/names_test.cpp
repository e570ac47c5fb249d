#include "platform/names.h"

#include <pwd.h>
#include <unistd.h>

#include <barrier>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace zun {
namespace {

// Sets or (null) removes an environment variable until scope end.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(HostName, OverrideVariableThenComputerNameThenSystem) {
  char node[256] = {};
  gethostname(node, sizeof node - 1);
  const struct {
    const char* cluster;
    const char* computer;
    WString expected;
  } cases[] = {{"vcluster", "box", u"vcluster"},
               {nullptr, "b\xc3\xa4r", u"b\u00e4r"},
               {nullptr, nullptr, ToUtf16(node)}};
  for (const auto& c : cases) {
    ScopedEnv cluster("_CLUSTER_NETWORK_NAME_", c.cluster);
    ScopedEnv computer("COMPUTERNAME", c.computer);
    WString name;
    ASSERT_RC(0u, GetHostName(&name));
    EXPECT_EQ(c.expected, name);
  }
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
