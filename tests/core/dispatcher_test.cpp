// Hosts' calls through the logger and dispatch tables, written by real file
// appenders with the standard layout.

#include <optional>

#include "appenders/appender_fixtures.h"
#include "core/logger_test_support.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "platform/process_info.h"
#include "protect/protect_test_support.h"
#include "protect/scramble_table.h"
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
  ASSERT_RC(RC_OK, LogFormat(db, ZUN_SEVERITY_ERROR, 0, u"%s", static_cast<const char16_t*>(nullptr)));
  const Lines expected = {Line("[app.db] WARN", "main.c:12.3.4.5", "opened 3 files in /var/caf\xC3\xA9"),
                          Line("[app.db] ERROR", "main.c:12.3.4.5", "(null)")};
  EXPECT_EQ(expected, FileLines("logs/db.log"));
  EXPECT_EQ(expected, FileLines("common.log"));

  ZunLogger* root = Get(u"root")->Interface();
  ASSERT_RC(RC_OK, root->vtbl->LogRevisionText(root, ZUN_SEVERITY_FATAL, nullptr, nullptr, 1, 2, u"r9", 3, 0,
                                               nullptr));
  EXPECT_EQ(Line("[root] FATAL", "MISSINGFILEID:1.2.r9.3", "*"), FileLines("common.log").back());
  EXPECT_EQ(expected, FileLines("logs/db.log")) << "a record goes up the tree, never down";
  std::size_t reported = 0;
  for (const OpenedFileEntry* at = dispatcher_.OpenedFiles().Head(); at != nullptr; at = at->next) ++reported;
  EXPECT_EQ(2u, reported) << "each file reported once";
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

  // Scrambled: "a", then base64 of a key index and the payload ("a" and the
  // UTF-8 text) XOR-ed with that key of the table.
  const std::string prefix = Line("[typed] WARN", "{610B}:223.8097.-1.8", "a");
  EXPECT_EQ(prefix, lines[1].substr(0, prefix.size()));
  std::optional<std::string> bytes = test::DecodeBase64(ToUtf16(lines[1].substr(prefix.size())));
  ASSERT_TRUE(bytes && bytes->size() >= 2 && static_cast<std::uint8_t>((*bytes)[0]) < kScrambleKeyCount);
  ScrambleBytes(reinterpret_cast<std::uint8_t*>(bytes->data() + 1), bytes->size() - 1,
                ScrambleKeyAt(static_cast<std::uint8_t>((*bytes)[0])));
  EXPECT_EQ("a'QWORD:0x00000000000000ff', 'STR:it''s\x0Bhere'", bytes->substr(1));

  // "d", the session tag of the key record, the payload length, then the
  // payload ("a" and UTF-8) Blowfish-encrypted under the session key.
  const std::u16string message = MessageOf(lines[3]);
  ASSERT_GE(message.size(), 31u);
  EXPECT_EQ(u'd', message[0]);
  EXPECT_EQ(MessageOf(lines[0]).substr(1, 20), message.substr(1, 20));
  EXPECT_EQ(u"0000000009", message.substr(21, 10));
  const std::optional<std::string> cipher = test::DecodeBase64(std::u16string_view(message).substr(31));
  ASSERT_TRUE(cipher);
  EXPECT_EQ(std::string("apin 1234") + std::string(7, '\0'),
            test::BlowfishCrypt(test::Bytes(sessionKey.data(), sessionKey.size()), *cipher, false));
}

TEST_F(DispatchTest, RecordsFromASourceKeepTheirOwnTimeThreadAndProcess) {
  Logger* logger = Get(u"replay");
  AddFileAppender(logger, "replay.log");
  test::ViewSource source;
  const char16_t* const messages[] = {u"first", u"second", u"third and more"};
  for (int i = 0; i < 3; ++i) {
    FileTime time = 0;
    ASSERT_RC(RC_OK, CalendarToFileTime(CalendarTime{2021, 3, 4, 5, 6, 7 + i, 89, 4}, &time));
    ZunLogRecordView view{};
    view.severity = ZUN_SEVERITY_DEBUG;
    view.message = messages[i];
    view.messageLength = i == 2 ? 5 : UINT32_MAX;
    view.fileId = u"svc.cpp";
    view.fileIdLength = UINT32_MAX;
    view.line = 40 + i;
    view.threadId = 100 + i;
    view.processId = 9;
    view.timeLow = static_cast<std::uint32_t>(time);
    view.timeHigh = static_cast<std::uint32_t>(time >> 32);
    view.revision = 7;
    source.views.push_back(view);
  }
  ASSERT_RC(RC_OK, logger->Interface()->vtbl->LogRecords(logger->Interface(), &source.face, 1));
  ASSERT_RC(RC_OK, logger->Interface()->vtbl->LogRecords(logger->Interface(), &source.face, 0));

  const auto line = [&](int i, const char* message) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[replay] DEBUG 2021-03-04 05:06:%02d,089 %s PID:9 THID:%d ID:svc.cpp:%d.0.7.0 MSG:%s",
                  7 + i, ToUtf8(GetCachedHostName()).c_str(), 100 + i, 40 + i, message);
    return std::string(text);
  };
  EXPECT_EQ((Lines{line(2, "third"), line(1, "second"), line(0, "first"), line(0, "first"), line(1, "second"),
                   line(2, "third")}),
            FileLines("replay.log"));
}

// A message that cannot be protected fails before any appender sees it.
TEST_F(DispatchTest, AMessageThatCannotBeProtectedIsWrittenNowhere) {
  Logger* logger = Get(u"fragile");
  AddFileAppender(logger, "fine.log");
  AddFileAppender(&tree_.Root(), "top.log");
  ASSERT_RC(RC_OK, LogFormat(logger, ZUN_SEVERITY_WARN, 0, u"one"));
  const char16_t lone[] = {u'x', 0xD800, 0};
  EXPECT_RC(RC_INVALID_DATA, LogFormat(logger, ZUN_SEVERITY_WARN, 1, u"%s", lone));
  EXPECT_EQ((Lines{Line("[fragile] WARN", "main.c:12.3.4.5", "one")}), FileLines("fine.log"));
  EXPECT_EQ(test::ReadFileBytes(PathOf("fine.log")), test::ReadFileBytes(PathOf("top.log")));
}

}  // namespace
}  // namespace zun
