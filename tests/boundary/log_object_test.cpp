// Counting, identity and unload of the exported objects; the counts of each
// interface and the reserved slots are also the C host's (c_host_dlopen).
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
  EXPECT_RC(RC_NOT_SUPPORTED, ZunGetLogObject(nullptr, reinterpret_cast<ILog**>(&out)));
  EXPECT_EQ(reinterpret_cast<void*>(0x1234), out);
  EXPECT_EQ(before, ObjectRegistry::Count());

  std::vector<ILog*> logs;
  for (const ZunGuid& id : ids) {
    ILog* log = nullptr;
    ASSERT_RC(0u, ZunGetLogObject(&id, &log));
    EXPECT_EQ(logs.end(), std::find(logs.begin(), logs.end(), log));
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

std::vector<LogLibraryObject*>* gDestroyed = nullptr;

// Runs in a child process: unloading is once per process.
int UnloadScenario() {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_2;
  ILog* logs[3] = {};
  std::vector<LogLibraryObject*> objects, destroyed;
  for (ILog*& log : logs) {
    ZunGetLogObject(&id, &log);
    objects.insert(objects.begin(), ObjectOf(log));  // before they are freed
  }
  gDestroyed = &destroyed;
  ObjectRegistry::SetDestroyObserver([](LogLibraryObject* o) { gDestroyed->push_back(o); });
  ObjectRegistry::DestroyAllAtUnload();
  if (destroyed != objects || ObjectRegistry::Count() != 0) return 1;
  // The objects are gone: a late release must return 0 and touch nothing.
  return ZunReleaseLogObject(&id, logs[0]) != 0 || destroyed.size() != 3 ? 2 : 0;
}

TEST(Factory, UnloadDestroysLeftoversLastFirstAndIgnoresLateReleases) {
  EXPECT_EXIT(std::_Exit(UnloadScenario()), ::testing::ExitedWithCode(0), "");
}

TEST(LogInterface, SlotsThatNeedNoLogSystemAndLoggersOfTheSharedTree) {
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_3;
  ILog *log = nullptr, *other = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  ASSERT_RC(0u, ZunGetLogObject(&id, &other));
  const ILogVtbl* t = log->vtbl;
  for (auto reserved : {t->Reserved23, t->Reserved33}) EXPECT_RC(RC_NOT_SUPPORTED, reserved(log));
  // Loading nothing is not an error, whichever slot is used.
  for (auto load : {t->LoadConfigurationFile, t->LoadConfigurationFile2Secondary})
    EXPECT_RC(0u, load(log, nullptr));
  EXPECT_RC(0u, t->LoadConfigurationFile2(log, u""));
  EXPECT_RC(0u, t->ApplyConfigurationTextOrNothing(log, nullptr));
  EXPECT_RC(RC_INVALID_PARAMETER, t->ApplyConfigurationText(log, nullptr));
  // An empty configuration folder needs one unit, even with capacity 0.
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  std::uint32_t size = 99;
  EXPECT_RC(0u, t->GetConfigurationFolder(log, buffer, 0, &size));
  EXPECT_EQ(1u, size);
  EXPECT_EQ(0, buffer[0]);

  ZunLogger *root = nullptr, *same = nullptr, *made = nullptr, *found = nullptr;
  ASSERT_RC(0u, t->GetLogger(log, &root, nullptr));
  ASSERT_RC(0u, other->vtbl->GetLoggerSecondary(other, &same, u""));
  EXPECT_EQ(WString(u"root"), root->vtbl->GetName(root));
  EXPECT_EQ(root, same);
  ZunLogger* missing = reinterpret_cast<ZunLogger*>(0x42);
  EXPECT_RC(0u, t->FindLogger(log, &missing, u"boundary.test.nowhere"));
  EXPECT_EQ(reinterpret_cast<ZunLogger*>(0x42), missing);
  ASSERT_RC(0u, t->GetLogger(log, &made, u"boundary.test"));
  ASSERT_RC(0u, other->vtbl->FindLoggerSecondary(other, &found, u"boundary.test"));
  EXPECT_EQ(made, found);
  EXPECT_RC(RC_INVALID_LOGGER_NAME, t->GetLogger(log, &made, u"has blank"));
  EXPECT_EQ(0u, other->vtbl->Release(other));
  EXPECT_EQ(0u, t->Release(log));
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

  ASSERT_RC(0u, log->vtbl->StartAsyncWorker(log));
  EXPECT_TRUE(system->Handler().IsRunning());
  std::size_t written = 0;
  for (auto flush : {log->vtbl->Flush, log->vtbl->FlushSecondary}) {
    ASSERT_RC(0u, ZunLogFormat(logger, ZUN_SEVERITY_WARN, u"slots.cpp", 1, ZUN_PROTECT_NONE, u"line"));
    ASSERT_RC(0u, flush(log));
    // Each opening of the file also writes the key record's line.
    const auto lines = test::ReadLogLines(PathOf("worker.log"));
    EXPECT_EQ(++written, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.starts_with("[boundary.worker] WARN") && line.ends_with(" MSG:line");
    }));
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
