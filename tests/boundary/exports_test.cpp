// The shared object as hosts see it: exactly seven exported functions.
#include <cstdio>
#include <set>
#include <string>

#include "support/test_support.h"
#include "zunlogx/zunlogx.h"

namespace zun {
namespace {

TEST(SharedObject, ExportsExactlyTheSevenFunctions) {
  const std::string command = std::string("nm -D --defined-only ") + ZUNLOGX_SHARED_OBJECT;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::set<std::string> functions, others;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) != 3) continue;
    (std::string(type) == "T" ? functions : others).insert(name);
  }
  ASSERT_EQ(0, pclose(pipe));
  std::string joined;
  for (const std::string& name : functions) joined += name + " ";
  EXPECT_EQ(
      "GetZunObject ZunGetLogObject ZunLogLibraryReconfigure ZunLogLibraryReloadConfig "
      "ZunLogLibraryRemoteReconfigure ZunLogLibraryRemoteReloadConfig ZunReleaseLogObject ",
      joined);
  // Only the version node of the script may appear besides them.
  for (const std::string& name : others) EXPECT_EQ(std::string::npos, name.find("zun")) << name;
}

}  // namespace
}  // namespace zun
