// The shared object as hosts see it: exactly seven exported functions.
#include <cstdio>
#include <set>
#include <string>

#include <pthread.h>

#include <cstdint>
#include <vector>

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
  const std::set<std::string> expected = {"GetZunObject",
                                          "ZunGetLogObject",
                                          "ZunReleaseLogObject",
                                          "ZunLogLibraryReconfigure",
                                          "ZunLogLibraryRemoteReconfigure",
                                          "ZunLogLibraryReloadConfig",
                                          "ZunLogLibraryRemoteReloadConfig"};
  EXPECT_EQ(expected, functions);
  // Only the version node of the script may appear besides them.
  for (const std::string& name : others) EXPECT_EQ(std::string::npos, name.find("zun")) << name;
}

// Starts a thread at a remote entry point the way another process would and
// returns the thread's exit value.
ResultCode RunRemote(void* (*entry)(void*), void* parameter) {
  pthread_t thread;
  EXPECT_EQ(0, pthread_create(&thread, nullptr, entry, parameter));
  void* status = nullptr;
  EXPECT_EQ(0, pthread_join(thread, &status));
  return static_cast<ResultCode>(reinterpret_cast<std::uintptr_t>(status));
}

std::vector<std::uint8_t> Block(std::uint64_t count, std::uint32_t selector) {
  std::vector<std::uint8_t> b(8 + 2 * (count >> 32 ? 0 : count) + 4, 0);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(count >> (8 * i));
  for (std::size_t i = 8; i + 4 < b.size(); i += 2) b[i] = 'x';
  for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<std::uint8_t>(selector >> (8 * i));
  return b;
}

TEST(RemoteEntryPoints, EndTheirThreadWithTheResult) {
  auto empty = Block(0, 0);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, empty.data()));
  auto upperHalf = Block(0x100000001ull, 0);
  EXPECT_RC(RC_INVALID_DATA, RunRemote(ZunLogLibraryRemoteReconfigure, upperHalf.data()));
  // Selector 2 names no client: nothing happens, and that is success.
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  auto selector2 = Block(3, 2);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, selector2.data()));
  EXPECT_EQ(0, log->vtbl->HasFolders(log));
  ZunReleaseLogObject(&id, log);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReloadConfig, nullptr));
  EXPECT_RC(0u, ZunLogLibraryReconfigure(nullptr, 0));
}

}  // namespace
}  // namespace zun
