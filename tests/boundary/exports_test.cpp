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

// A parameter block naming `name`, or `count` units of "x" when no name.
std::vector<std::uint8_t> Block(std::uint64_t count, std::uint32_t selector, const WString& name = u"") {
  if (!name.empty()) count = name.size();
  std::vector<std::uint8_t> b(8 + 2 * (count >> 32 ? 0 : count) + 4, 0);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(count >> (8 * i));
  for (std::size_t i = 8, n = 0; i + 4 < b.size(); i += 2, ++n) {
    const char16_t unit = name.empty() ? u'x' : name[n];
    b[i] = static_cast<std::uint8_t>(unit);
    b[i + 1] = static_cast<std::uint8_t>(unit >> 8);
  }
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

class ReconfigureTest : public test::TempDirTest {
 protected:
  // Whether the logger "exports.r" exists and lets `severity` through.
  bool Enabled(ILog* log, std::int32_t severity) {
    ZunLogger* logger = nullptr;
    EXPECT_RC(0u, log->vtbl->FindLogger(log, &logger, u"exports.r"));
    if (logger == nullptr) return false;
    ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
    return dispatch->vtbl->IsEnabled(dispatch, severity) == 1;
  }
  void WriteAt(const char* severity) {
    test::WriteFileBytes(PathOf("r.cfg"), std::string("[exports.r]\nAdditive = no\nSeverity = ") + severity);
  }
};

TEST_F(ReconfigureTest, EveryObjectLoadsTheFileAndReloadsReadItAgain) {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  const WString file = WidePath("r.cfg");

  WriteAt("ERROR");
  EXPECT_RC(0u, ZunLogLibraryReconfigure(file.c_str(), 1));
  EXPECT_EQ(1, log->vtbl->HasFoldersSecondary(log));
  EXPECT_EQ(0, log->vtbl->HasFolders(log));
  EXPECT_FALSE(Enabled(log, ZUN_SEVERITY_ERROR));
  EXPECT_TRUE(Enabled(log, ZUN_SEVERITY_FATAL));

  WriteAt("INFO");
  auto block = Block(0, 0, file);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, block.data()));
  EXPECT_EQ(1, log->vtbl->HasFolders(log));
  EXPECT_TRUE(Enabled(log, ZUN_SEVERITY_WARN));

  WriteAt("WARN");
  EXPECT_RC(0u, ZunLogLibraryReloadConfig());
  EXPECT_FALSE(Enabled(log, ZUN_SEVERITY_WARN));
  WriteAt("DEBUG");
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReloadConfig, nullptr));
  EXPECT_TRUE(Enabled(log, ZUN_SEVERITY_DETAIL));
  // A file that went away is skipped.
  std::filesystem::remove(PathOf("r.cfg"));
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReloadConfig, nullptr));
  EXPECT_TRUE(Enabled(log, ZUN_SEVERITY_DETAIL));
  ZunReleaseLogObject(&id, log);
}

}  // namespace
}  // namespace zun
