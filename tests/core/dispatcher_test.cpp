// Hosts' calls through the logger and dispatch tables, written by real file
// appenders with the standard layout.

#include "appenders/appender_fixtures.h"
#include "core/logger_test_support.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "platform/process_info.h"
#include "protect/session_key.h"
#include "records/protected_record.h"

namespace zun {
namespace {

// 2024-02-29 13:45:07,123 UTC for every record that takes the time now.
FileTime FixedTime() {
  FileTime time = 0;
  CalendarToFileTime(CalendarTime{2024, 2, 29, 13, 45, 7, 123, 4}, &time);
  return time;
}
std::uint64_t FixedTicks() { return 5000; }
const ClockSource kFixedClock{FixedTime, FixedTicks};

// The standard line of a record made now on this thread, from its message on.
std::string Line(const char* head, const char* id, const std::string& message) {
  char text[256];
  std::snprintf(text, sizeof text, "%s 2024-02-29 13:45:07,123 %s PID:%u THID:%u ID:%s MSG:", head,
                ToUtf8(GetCachedHostName()).c_str(), CurrentProcessId(), CurrentThreadId(), id);
  return text + message;
}

// The message of a line, after " MSG:".
std::u16string MessageOf(const std::string& line) {
  const std::size_t at = line.find(" MSG:");
  return at == std::string::npos ? std::u16string() : ToUtf16(line.substr(at + 5));
}

class DispatchTest : public test::LoggerFilesTest {
 protected:
  void SetUp() override {
    LoggerFilesTest::SetUp();
    SetClockSource(&kFixedClock);
  }
  void TearDown() override {
    SetClockSource(nullptr);
    LoggerFilesTest::TearDown();
  }
  std::vector<std::string> FileLines(const std::string& name) { return test::ReadLogLines(PathOf(name)); }
};

using Lines = std::vector<std::string>;

TEST_F(DispatchTest, PrintfStyleCallsBecomeStandardLinesInTheLoggersAndItsAncestorsFiles) {
  Logger* db = Get(u"app.db");
  AddFileAppender(&tree_.Root(), "common.log");
  AddFileAppender(db, "logs/db.log");
  ASSERT_RC(RC_OK, LogFormat(db, ZUN_SEVERITY_WARN, 0, u"opened %d files in %s", 3, u"/var/caf\u00e9"));
  ASSERT_RC(RC_OK, LogFormat(&tree_.Root(), ZUN_SEVERITY_FATAL, 0, u"top"));
  const std::string dbLine = Line("[app.db] WARN", "main.c:12.3.4.5", "opened 3 files in /var/caf\xC3\xA9");
  EXPECT_EQ(Lines{dbLine}, FileLines("logs/db.log")) << "a record goes up the tree, never down";
  EXPECT_EQ((Lines{dbLine, Line("[root] FATAL", "main.c:12.3.4.5", "top")}), FileLines("common.log"));
}

// Typed arguments from a source, scrambled when there is no message; a
// session-protected message; all after the key record line, which each
// opening of the file writes first.
TEST_F(DispatchTest, ProtectedAndTypedCallsFollowTheKeyRecordLineOfEachOpening) {
  std::vector<std::uint8_t> sessionKey;
  WString keyRecordLine;
  ASSERT_RC(RC_OK, CreateSessionKey(sessionKey));
  ASSERT_RC(RC_OK, MakeKeyRecordLine(keyRecordLine));
  tree_.SetKeyRecordLine(std::make_shared<const WString>(keyRecordLine));
  Logger* logger = Get(u"typed", 57);
  AddFileAppender(logger, "typed.log");
  ZunDispatch* dispatch = logger->Interface()->vtbl->GetDispatchInterface(logger->Interface());
  const ZunSourceInfo info{8097, 8, nullptr};
  for (const char16_t* format : {static_cast<const char16_t*>(nullptr), u"n=%u t=%s"}) {
    test::ArgumentList arguments({test::Unsigned(255), test::Span(ZUN_ARG_WIDE, u"it's\nhere")});
    ASSERT_RC(RC_OK, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, format, u"{610B}", 223, &info,
                                                   &arguments.face));
  }
  ASSERT_RC(RC_OK, LogFormat(logger, ZUN_SEVERITY_INFO, 4, u"pin %d", 1234));
  ASSERT_RC(RC_OK, LoggerTree::FlushTree(&tree_.Root()));
  ASSERT_RC(RC_OK, LogFormat(logger, ZUN_SEVERITY_INFO, 0, u"after reopen"));
  const Lines lines = FileLines("typed.log");
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ(ToUtf8(keyRecordLine), lines[0]);
  EXPECT_EQ(Line("[typed] WARN", "{610B}:223.8097.-1.8", "n=255 t=it's\nhere"), lines[2]);
  EXPECT_EQ(ToUtf8(keyRecordLine), lines[4]);
  EXPECT_EQ(Line("[typed] INFO", "main.c:12.3.4.5", "after reopen"), lines[5]);

  // Scrambled and session-protected: the encodings themselves are the
  // protect layer's tests; here the payload's length, 9 bytes "apin 1234",
  // and the tag of the key record line before them.
  const std::string prefix = Line("[typed] WARN", "{610B}:223.8097.-1.8", "a");
  EXPECT_EQ(prefix, lines[1].substr(0, prefix.size()));
  EXPECT_EQ(std::string::npos, lines[1].find("QWORD"));
  const std::u16string message = MessageOf(lines[3]);
  ASSERT_GE(message.size(), 31u);
  EXPECT_EQ(u'd', message[0]);
  EXPECT_EQ(MessageOf(lines[0]).substr(1, 20), message.substr(1, 20));
  EXPECT_EQ(u"0000000009", message.substr(21, 10));
}

// Views are read last first when asked; a read or dispatch failure stops
// the batch, and a message that cannot be protected is written nowhere.
TEST_F(DispatchTest, RecordsFromASourceKeepTheirOwnTimeThreadAndProcessUntilAFailure) {
  tree_.SetKeyRecordLine(std::make_shared<const WString>(u"key line"));
  ZunLogger* logger = Get(u"replay", 57)->Interface();
  AddFileAppender(Logger::FromInterface(logger), "replay.log");
  test::ViewSource source;
  for (const char16_t* message : {u"first", u"second", u"third and more"}) {
    const std::uint32_t i = static_cast<std::uint32_t>(source.views.size());
    FileTime time = 0;
    ASSERT_RC(RC_OK,
              CalendarToFileTime(CalendarTime{2021, 3, 4, 5, 6, 7 + static_cast<int>(i), 89, 4}, &time));
    // Severity, message, file id, line, build, revision text, product, mode,
    // thread, process, reserved, time and revision, each with its length.
    source.views.push_back({ZUN_SEVERITY_DEBUG, message, i == 2 ? 5 : UINT32_MAX, u"svc.cpp", UINT32_MAX,
                            40 + i, 0, nullptr, 0, 0, 0, 100 + i, 9, 0, static_cast<std::uint32_t>(time),
                            static_cast<std::uint32_t>(time >> 32), 7});
  }
  ASSERT_RC(RC_OK, logger->vtbl->LogRecords(logger, &source.face, 1));
  EXPECT_EQ((std::vector<std::uint32_t>{2, 1, 0}), source.asked);
  ASSERT_RC(RC_OK, logger->vtbl->LogRecords(logger, &source.face, 0));
  source.failAt = 1;
  EXPECT_RC(RC_READ_FAULT, logger->vtbl->LogRecords(logger, &source.face, 0));
  source.failAt = UINT32_MAX;
  const char16_t lone[] = {u'x', 0xD800, 0};
  source.views[1].message = lone;
  source.views[1].protectionMode = 1;
  source.asked.clear();
  EXPECT_RC(RC_INVALID_DATA, logger->vtbl->LogRecords(logger, &source.face, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 1}), source.asked);
  EXPECT_RC(RC_INVALID_PARAMETER, logger->vtbl->LogRecords(logger, nullptr, 0));

  const auto line = [&](int i, const char* message) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[replay] DEBUG 2021-03-04 05:06:%02d,089 %s PID:9 THID:%d ID:svc.cpp:%d.0.7.0 MSG:%s",
                  7 + i, ToUtf8(GetCachedHostName()).c_str(), 100 + i, 40 + i, message);
    return std::string(text);
  };
  EXPECT_EQ((Lines{"key line", line(2, "third"), line(1, "second"), line(0, "first"), line(0, "first"),
                   line(1, "second"), line(2, "third"), line(0, "first"), line(0, "first")}),
            FileLines("replay.log"));
}

}  // namespace
}  // namespace zun
