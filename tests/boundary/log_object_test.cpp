#include <stdlib.h>

#include <algorithm>
#include <barrier>
#include <cstring>
#include <thread>
#include <vector>

#include "boundary/log_library_object.h"
#include "boundary/object_list.h"
#include "config/log_locations.h"
#include "support/test_support.h"
#include "zunlogx/zunlogx.h"

namespace zun {
namespace {

// The process's log system must not write into the real home: before any
// test creates it, its per-user and shared folders move into a temporary
// folder of this run.
const std::filesystem::path kFolders = [] {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zunlogx-boundary-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  setenv("XDG_STATE_HOME", (pattern + "/state").c_str(), 1);
  setenv("ALLUSERSPROFILE", (pattern + "/common").c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(kFolders, ignored);
  });
  return std::filesystem::path(pattern);
}();

std::vector<LogLibraryObject*> ListedObjects() {
  std::vector<LogLibraryObject*> seen;
  ObjectRegistry::ForEach(
      [](LogLibraryObject* o, void* c) { static_cast<std::vector<LogLibraryObject*>*>(c)->push_back(o); },
      &seen);
  return seen;
}

TEST(PointerArray, GrowsTo65ThenByHalf) {
  PointerArray list;
  int items[70];
  ASSERT_RC(0u, list.PushBack(&items[0]));
  EXPECT_EQ(65u, list.Capacity());
  for (int i = 1; i < 65; ++i) ASSERT_RC(0u, list.PushBack(&items[i]));
  EXPECT_EQ(65u, list.Capacity());
  ASSERT_RC(0u, list.PushBack(&items[65]));
  EXPECT_EQ(99u, list.Capacity());  // 66 + 33
  for (int i = 0; i < 66; ++i) ASSERT_EQ(&items[i], list[i]);
  EXPECT_TRUE(list.Remove(&items[10]));
  EXPECT_EQ(65u, list.Size());
  EXPECT_EQ(&items[11], list[10]);
  EXPECT_EQ(&items[65], list.Back());
  // Growth that would reach the limit fails and leaves the list alone.
  EXPECT_RC(RC_OUT_OF_MEMORY, list.Resize(0x3FFFFFFF));
  EXPECT_EQ(65u, list.Size());
}

TEST(Factory, AnswersOnlyItsIdentifiers) {
  const std::size_t before = ObjectRegistry::Count();
  void* out = reinterpret_cast<void*>(0x1234);
  ZunGuid unknown = ZUN_LOG_LIBRARY_CLASS_ID;
  unknown.data4[7] ^= 1;
  EXPECT_RC(RC_NOT_SUPPORTED, GetZunObject(unknown, &out));
  EXPECT_EQ(reinterpret_cast<void*>(0x1234), out);
  EXPECT_EQ(before, ObjectRegistry::Count());

  const ZunGuid ids[4] = {ZUN_LOG_INTERFACE_ID_1, ZUN_LOG_INTERFACE_ID_2, ZUN_LOG_INTERFACE_ID_3,
                          ZUN_LOG_INTERFACE_ID_4};
  std::vector<ILog*> logs;
  for (const ZunGuid& id : ids) {
    ILog* log = nullptr;
    ASSERT_RC(0u, ZunGetLogObject(&id, &log));
    ASSERT_NE(nullptr, log);
    for (ILog* other : logs) EXPECT_NE(other, log);
    logs.push_back(log);
  }
  EXPECT_EQ(before + 4, ObjectRegistry::Count());
  // A fifth identifier (the fourth with one byte changed) leaves *out alone.
  ZunGuid fifth = ZUN_LOG_INTERFACE_ID_4;
  fifth.data1 = 0x5E0F74B7u;
  ILog* untouched = reinterpret_cast<ILog*>(0x5678);
  EXPECT_RC(RC_NOT_SUPPORTED, ZunGetLogObject(&fifth, &untouched));
  EXPECT_EQ(reinterpret_cast<ILog*>(0x5678), untouched);
  for (ILog* log : logs) EXPECT_RC(0u, ZunReleaseLogObject(nullptr, log));
  EXPECT_EQ(before, ObjectRegistry::Count());
}

TEST(Factory, NullArgumentsGiveCodesAndCreateNothing) {
  const std::size_t before = ObjectRegistry::Count();
  EXPECT_RC(RC_INVALID_PARAMETER, GetZunObject(kLogLibraryClassId, nullptr));
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  EXPECT_RC(RC_INVALID_PARAMETER, ZunGetLogObject(&id, nullptr));
  ILog* untouched = reinterpret_cast<ILog*>(0x77);
  EXPECT_RC(RC_NOT_SUPPORTED, ZunGetLogObject(nullptr, &untouched));
  EXPECT_EQ(reinterpret_cast<ILog*>(0x77), untouched);
  EXPECT_RC(0u, ZunReleaseLogObject(&id, nullptr));
  EXPECT_EQ(before, ObjectRegistry::Count());
}

TEST(Factory, OneCountServesAllThreeInterfaces) {
  void* out = nullptr;
  ASSERT_RC(0u, GetZunObject(kLogModuleClassId, &out));
  auto* module = static_cast<ILogModule*>(out);
  LogLibraryObject* object = ObjectOf(module);
  EXPECT_EQ(2u, module->vtbl->AddRef(module));
  ILogProvider* provider = module->vtbl->GetProvider(module);  // adds one
  EXPECT_EQ(4u, provider->vtbl->AddRef(provider));
  ILog* log = provider->vtbl->GetLog(provider);  // adds none
  EXPECT_EQ(3u, log->vtbl->Release(log));
  ZunReleaseFunction release = module->vtbl->GetReleaseFunction(module);
  release(log);
  release(provider);
  EXPECT_EQ(1u, object->refCount.load());
  const auto listed = ListedObjects();
  EXPECT_EQ(1, std::count(listed.begin(), listed.end(), object));
  EXPECT_EQ(0u, module->vtbl->Release(module));
  const auto remaining = ListedObjects();
  EXPECT_EQ(remaining.end(), std::find(remaining.begin(), remaining.end(), object));

  ASSERT_RC(0u, GetZunObject(kLogLibraryClassId, &out));
  provider = static_cast<ILogProvider*>(out);
  EXPECT_EQ(0u, provider->vtbl->Release(provider));
}

TEST(Factory, ReleasingOneObjectKeepsTheOrderOfTheRest) {
  ILog* a = nullptr;
  ILog* b = nullptr;
  ILog* c = nullptr;
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ASSERT_RC(0u, ZunGetLogObject(&id, &a));
  ASSERT_RC(0u, ZunGetLogObject(&id, &b));
  ASSERT_RC(0u, ZunGetLogObject(&id, &c));
  ZunReleaseLogObject(&id, b);
  const auto listed = ListedObjects();
  auto ia = std::find(listed.begin(), listed.end(), ObjectOf(a));
  auto ic = std::find(listed.begin(), listed.end(), ObjectOf(c));
  ASSERT_NE(listed.end(), ia);
  ASSERT_NE(listed.end(), ic);
  EXPECT_EQ(ia + 1, ic);
  ZunReleaseLogObject(&id, a);
  ZunReleaseLogObject(&id, c);
}

std::vector<LogLibraryObject*>* gDestroyed = nullptr;

// Runs in a child process: unloading is once per process.
int UnloadScenario() {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_2;
  ILog* logs[3] = {};
  LogLibraryObject* objects[3] = {};
  for (int i = 0; i < 3; ++i) {
    ZunGetLogObject(&id, &logs[i]);
    objects[i] = ObjectOf(logs[i]);  // before they are freed
  }
  std::vector<LogLibraryObject*> destroyed;
  gDestroyed = &destroyed;
  ObjectRegistry::SetDestroyObserver([](LogLibraryObject* o) { gDestroyed->push_back(o); });
  ObjectRegistry::DestroyAllAtUnload();
  if (destroyed.size() != 3 || ObjectRegistry::Count() != 0) return 1;
  if (destroyed[0] != objects[2] || destroyed[1] != objects[1] || destroyed[2] != objects[0]) return 2;
  // The objects are gone: a late release must return 0 and touch nothing.
  if (ZunReleaseLogObject(&id, logs[0]) != 0 || destroyed.size() != 3) return 3;
  return 0;
}

TEST(Factory, UnloadDestroysLeftoversLastFirstAndIgnoresLateReleases) {
  EXPECT_EXIT(std::_Exit(UnloadScenario()), ::testing::ExitedWithCode(0), "");
}

TEST(LogInterface, SlotsThatNeedNoLogSystem) {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_3;
  ILog* log = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  const ILogVtbl* t = log->vtbl;
  EXPECT_EQ(1, t->IsAvailable(log));
  EXPECT_EQ(1, t->IsAvailableSecondary(log));
  EXPECT_EQ(0, t->HasFolders(log));
  EXPECT_EQ(0, t->HasFoldersSecondary(log));
  EXPECT_RC(RC_NOT_SUPPORTED, t->Reserved11(log));
  EXPECT_RC(RC_NOT_SUPPORTED, t->Reserved23(log));
  EXPECT_RC(RC_NOT_SUPPORTED, t->Reserved33(log));
  EXPECT_RC(RC_NOT_SUPPORTED, t->Reserved34(log));
  // Loading nothing is not an error, whichever slot is used.
  EXPECT_RC(0u, t->LoadConfigurationFile(log, nullptr));
  EXPECT_RC(0u, t->LoadConfigurationFile2(log, u""));
  EXPECT_RC(0u, t->LoadConfigurationFile2Secondary(log, nullptr));
  EXPECT_RC(0u, t->ApplyConfigurationTextOrNothing(log, nullptr));
  EXPECT_RC(RC_INVALID_PARAMETER, t->ApplyConfigurationText(log, nullptr));
  // An empty configuration folder needs one unit, even with capacity 0.
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  std::uint32_t size = 99;
  EXPECT_RC(0u, t->GetConfigurationFolder(log, buffer, 0, &size));
  EXPECT_EQ(1u, size);
  EXPECT_EQ(0, buffer[0]);
  EXPECT_EQ(0u, t->Release(log));
}

TEST(LogInterface, LoggersComeFromTheSharedTree) {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* first = nullptr;
  ILog* second = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &first));
  ASSERT_RC(0u, ZunGetLogObject(&id, &second));
  ZunLogger* root = nullptr;
  ASSERT_RC(0u, first->vtbl->GetLogger(first, &root, nullptr));
  EXPECT_EQ(WString(u"root"), root->vtbl->GetName(root));
  ZunLogger* same = nullptr;
  ASSERT_RC(0u, second->vtbl->GetLoggerSecondary(second, &same, u""));
  EXPECT_EQ(root, same);

  ZunLogger* missing = reinterpret_cast<ZunLogger*>(0x42);
  EXPECT_RC(0u, first->vtbl->FindLogger(first, &missing, u"boundary.test.nowhere"));
  EXPECT_EQ(reinterpret_cast<ZunLogger*>(0x42), missing);
  ZunLogger* made = nullptr;
  ASSERT_RC(0u, first->vtbl->GetLogger(first, &made, u"boundary..test"));
  ZunLogger* found = nullptr;
  ASSERT_RC(0u, second->vtbl->FindLoggerSecondary(second, &found, u"boundary.test"));
  EXPECT_EQ(made, found);
  EXPECT_EQ(WString(u"boundary.test"), found->vtbl->GetName(found));
  EXPECT_RC(RC_INVALID_LOGGER_NAME, first->vtbl->GetLogger(first, &made, u"has blank"));
  // Nothing is configured, so flushing has no appender to fail.
  EXPECT_RC(0u, first->vtbl->Flush(first));
  ZunReleaseLogObject(&id, first);
  ZunReleaseLogObject(&id, second);
}

// A client keeps its first log folder and its latest configuration folder;
// setting the log folder deletes the temporary files left in it.
TEST(LogInterface, ClientFoldersFollowTheirRules) {
  const std::filesystem::path logs = kFolders / "logs";
  std::filesystem::create_directories(logs);
  for (const char* name : {"zun-1.tmp", "kept.tmp"}) test::WriteFileBytes(logs / name, "x");
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_2;
  ILog* log = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  const ILogVtbl* t = log->vtbl;
  auto folder = [&](auto get, std::uint32_t capacity = 511, ResultCode rc = 0u) {
    char16_t buffer[512] = {u'x'};
    std::uint32_t size = 0;
    EXPECT_RC(rc, get(log, buffer, capacity, &size));
    return ToUtf8(buffer) + ":" + std::to_string(size);
  };
  ASSERT_RC(0u, t->SetFolders(log, u"first", ToUtf16(logs.string()).c_str()));
  EXPECT_FALSE(std::filesystem::exists(logs / "zun-1.tmp"));
  EXPECT_TRUE(std::filesystem::exists(logs / "kept.tmp"));
  ASSERT_RC(0u, t->SetFolders(log, nullptr, u"/elsewhere"));
  EXPECT_EQ("first:6", folder(t->GetConfigurationFolder));
  ASSERT_RC(0u, t->SetConfigurationFolder(log, u"next"));
  EXPECT_EQ(ToUtf16(logs.string()), ObjectOf(log)->primary.load()->logFolder);
  EXPECT_EQ("next:5", folder(t->GetConfigurationFolder, 4));
  EXPECT_EQ("x:5", folder(t->GetConfigurationFolder, 3, RC_INSUFFICIENT_BUFFER));

  // The first text of a client without folders sets "." and the standard
  // log folder; the standard configuration folder is the shared one.
  EXPECT_RC(0u, t->ApplyConfigurationTextSecondary(log, u"[boundary.secondary]\n"));
  EXPECT_EQ(".:2", folder(t->GetConfigurationFolderSecondary));
  WString standard, shared;
  ASSERT_RC(0u, StandardLogFolder(&standard));
  EXPECT_EQ(standard, ObjectOf(log)->secondary.load()->logFolder);
  ASSERT_RC(0u, SharedLogFolder(&shared));
  EXPECT_RC(0u, t->UseStandardConfigurationFolderSecondary(log));
  EXPECT_EQ(ToUtf8(shared) + ":" + std::to_string(shared.size() + 1),
            folder(t->GetConfigurationFolderSecondary));
  ZunReleaseLogObject(&id, log);
}

TEST(LogClient, RacingThreadsShareTheFirstInstalledClient) {
  std::atomic<LogClient*> slot{nullptr};
  constexpr int kThreads = 8;
  std::vector<LogClient*> seen(kThreads);
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      EnsureLogClient(slot, &seen[i]);
    });
  }
  for (auto& t : threads) t.join();
  for (LogClient* client : seen) EXPECT_EQ(slot.load(), client);
  delete slot.load();
}

}  // namespace
}  // namespace zun
