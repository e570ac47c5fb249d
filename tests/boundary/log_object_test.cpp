#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "appenders/appender_fixtures.h"
#include "boundary/log_library_object.h"
#include "boundary/object_list.h"
#include "support/test_support.h"
#include "zunlogx/zunlogx.h"

namespace zun {
namespace {

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

// Unknown identifiers and null arguments create nothing and leave *out
// alone; releasing one object keeps the order of the rest.
TEST(Factory, AnswersOnlyItsIdentifiers) {
  const std::size_t before = ObjectRegistry::Count();
  void* out = reinterpret_cast<void*>(0x1234);
  ZunGuid unknown = ZUN_LOG_LIBRARY_CLASS_ID;
  unknown.data4[7] ^= 1;
  EXPECT_RC(RC_NOT_SUPPORTED, GetZunObject(unknown, &out));
  EXPECT_EQ(reinterpret_cast<void*>(0x1234), out);
  EXPECT_RC(RC_INVALID_PARAMETER, GetZunObject(kLogLibraryClassId, nullptr));
  const ZunGuid ids[4] = {ZUN_LOG_INTERFACE_ID_1, ZUN_LOG_INTERFACE_ID_2, ZUN_LOG_INTERFACE_ID_3,
                          ZUN_LOG_INTERFACE_ID_4};
  EXPECT_RC(RC_INVALID_PARAMETER, ZunGetLogObject(&ids[0], nullptr));
  EXPECT_RC(0u, ZunReleaseLogObject(&ids[0], nullptr));
  // A fifth identifier (the fourth with one byte changed) or none.
  ZunGuid fifth = ZUN_LOG_INTERFACE_ID_4;
  fifth.data1 = 0x5E0F74B7u;
  ILog* untouched = reinterpret_cast<ILog*>(0x5678);
  EXPECT_RC(RC_NOT_SUPPORTED, ZunGetLogObject(&fifth, &untouched));
  EXPECT_RC(RC_NOT_SUPPORTED, ZunGetLogObject(nullptr, &untouched));
  EXPECT_EQ(reinterpret_cast<ILog*>(0x5678), untouched);
  EXPECT_EQ(before, ObjectRegistry::Count());

  std::vector<ILog*> logs;
  for (const ZunGuid& id : ids) {
    ILog* log = nullptr;
    ASSERT_RC(0u, ZunGetLogObject(&id, &log));
    ASSERT_NE(nullptr, log);
    for (ILog* other : logs) EXPECT_NE(other, log);
    logs.push_back(log);
  }
  EXPECT_EQ(before + 4, ObjectRegistry::Count());
  EXPECT_RC(0u, ZunReleaseLogObject(nullptr, logs[1]));
  const auto listed = ListedObjects();
  const auto first = std::find(listed.begin(), listed.end(), ObjectOf(logs[0]));
  ASSERT_NE(listed.end(), first);
  EXPECT_EQ((std::vector<LogLibraryObject*>{ObjectOf(logs[0]), ObjectOf(logs[2]), ObjectOf(logs[3])}),
            std::vector<LogLibraryObject*>(first, std::min(first + 3, listed.end())));
  for (ILog* log : {logs[0], logs[2], logs[3]}) EXPECT_RC(0u, ZunReleaseLogObject(nullptr, log));
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
  for (auto available : {t->IsAvailable, t->IsAvailableSecondary}) EXPECT_EQ(1, available(log));
  for (auto hasFolders : {t->HasFolders, t->HasFoldersSecondary}) EXPECT_EQ(0, hasFolders(log));
  for (auto reserved : {t->Reserved11, t->Reserved23, t->Reserved33, t->Reserved34})
    EXPECT_RC(RC_NOT_SUPPORTED, reserved(log));
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
  ZunReleaseLogObject(&id, first);
  ZunReleaseLogObject(&id, second);
}

class WorkerSlotsTest : public test::TempDirTest {};

// The worker runs for the process: started through one object's primary
// client, a flush through either client writes what is queued.
TEST_F(WorkerSlotsTest, StartQueuesFlushOfEitherClientWritesAndStopEndsQueueing) {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  ZunLogger* logger = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  ASSERT_RC(0u, log->vtbl->GetLogger(log, &logger, u"boundary.worker"));
  LogSystem* system = ObjectOf(log)->primary.load()->system;
  auto appender = test::MakeFileAppender(&system->RecordDispatcher(), Dir(), u"FileName = worker.log\n");
  StandardLayout layout(std::u16string(u"standard"));
  appender->AttachLayout(&layout);
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Logger::FromInterface(logger), appender.get()));
  // The logger's lines; each opening of the file also has the key record's.
  const auto messages = [&] {
    std::vector<std::string> found;
    if (!std::filesystem::exists(PathOf("worker.log"))) return found;
    for (const std::string& line : test::ReadLogLines(PathOf("worker.log"))) {
      if (line.rfind("[boundary.worker] ", 0) == 0) found.push_back(line.substr(line.rfind(" MSG:") + 5));
    }
    return found;
  };

  ASSERT_RC(0u, log->vtbl->StartAsyncWorker(log));
  EXPECT_TRUE(system->Handler().IsRunning());
  const struct {
    ZunResult (*flush)(ILog*);
    const char16_t* message;
  } flushes[] = {{log->vtbl->Flush, u"primary"}, {log->vtbl->FlushSecondary, u"secondary"}};
  std::vector<std::string> expected;
  for (const auto& step : flushes) {
    ASSERT_RC(0u, ZunLogFormat(logger, ZUN_SEVERITY_WARN, u"slots.cpp", 1, ZUN_PROTECT_NONE, step.message));
    ASSERT_RC(0u, step.flush(log));
    expected.push_back(ToUtf8(step.message));
    EXPECT_EQ(expected, messages());
  }
  log->vtbl->StopAsyncWorker(log);
  EXPECT_FALSE(system->Handler().IsRunning());
  LoggerTree::ClearAppenders(Logger::FromInterface(logger));
  EXPECT_EQ(0u, log->vtbl->Release(log));
}

TEST(LogClient, RacingThreadsShareTheFirstInstalledClient) {
  std::atomic<LogClient*> slot{nullptr};
  std::vector<LogClient*> seen(8);
  test::RunThreads(8, [&](unsigned i) { EnsureLogClient(slot, &seen[i]); });
  for (LogClient* client : seen) EXPECT_EQ(slot.load(), client);
  delete slot.load();
}

}  // namespace
}  // namespace zun
