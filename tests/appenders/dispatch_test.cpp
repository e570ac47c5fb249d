// Hosts' calls through the logger and dispatch tables, written by real file
// appenders with the standard layout into files of a fresh folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "appenders/file_appender.h"
#include "appenders/standard_layout.h"
#include "config/config_document.h"
#include "core/dispatcher.h"
#include "core/logger_test_support.h"
#include "core/logger_tree.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "platform/process_info.h"
#include "protect/protect_test_support.h"
#include "protect/scramble_table.h"
#include "protect/session_key.h"
#include "support/test_support.h"

namespace zun {
namespace {

constexpr char kMark[] = "\xEF\xBB\xBF";

// 2024-02-29 13:45:07,123 UTC for every record that takes the time now.
FileTime FixedTime() {
  CalendarTime when{2024, 2, 29, 13, 45, 7, 123, 4};
  FileTime time = 0;
  CalendarToFileTime(when, &time);
  return time;
}
std::uint64_t FixedTicks() { return 5000; }
const ClockSource kFixedClock{FixedTime, FixedTicks};

// A C host's printf-style call: the list is built here and handed over.
ZunResult LogFormat(ZunLogger* logger, int32_t severity, uint32_t protectionMode, const char16_t* format,
                    ...) {
  va_list args;
  va_start(args, format);
  const ZunResult rc =
      logger->vtbl->LogFull(logger, severity, format, u"main.c", 12, 3, 4, 5, protectionMode, &args);
  va_end(args);
  return rc;
}

// The parts of a standard line after the logger and severity, for a record
// made now on this thread.
std::string Stamp(const char* fileAndNumbers) {
  char text[256];
  std::snprintf(text, sizeof text, "2024-02-29 13:45:07,123 %s PID:%u THID:%u ID:%s",
                ToUtf8(GetCachedHostName()).c_str(), CurrentProcessId(), CurrentThreadId(), fileAndNumbers);
  return text;
}

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", from);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(from) + "<unterminated>");
      break;
    }
    lines.push_back(bytes.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

// The text after " MSG:" of a line.
std::u16string MessageOf(const std::string& line) {
  const std::size_t at = line.find(" MSG:");
  return at == std::string::npos ? std::u16string() : ToUtf16(line.substr(at + 5));
}

class DispatchTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SetClockSource(&kFixedClock);
  }
  void TearDown() override {
    SetClockSource(nullptr);
    TempDirTest::TearDown();
  }

  FileAppender* AddFileAppender(Logger* logger, const std::u16string& name, const std::u16string& fileName) {
    std::unique_ptr<FileAppender> appender;
    EXPECT_RC(RC_OK, FileAppender::Create(&dispatcher_, name, ToUtf16(Dir().string()), &appender));
    ConfigSectionRef section;
    EXPECT_RC(RC_OK, ConfigSection::Create(name, &section));
    for (auto [key, value] :
         {std::pair{u"AppenderType", u"File"}, std::pair{u"FileName", fileName.c_str()}}) {
      ConfigKeyRef entry;
      EXPECT_RC(RC_OK, ConfigKey::Create(key, &entry));
      EXPECT_RC(RC_OK, entry->SetPlainValue(value));
      EXPECT_RC(RC_OK, section->AddKey(entry));
    }
    EXPECT_RC(RC_OK, appender->LoadConfig(*section));
    appender->AttachLayout(&layout_);
    EXPECT_RC(RC_OK, LoggerTree::AddAppender(logger, appender.get()));
    appenders_.push_back(std::move(appender));
    return appenders_.back().get();
  }
  ZunLogger* Get(std::u16string_view name, std::uint32_t mask) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger->Interface();
  }
  std::string File(const std::string& name) { return test::ReadFileBytes(PathOf(name)); }

  Dispatcher dispatcher_;
  StandardLayout layout_{std::u16string(u"defaultLayout")};
  LoggerTree tree_{&dispatcher_};
  std::vector<std::unique_ptr<FileAppender>> appenders_;  // before the tree drops its pointers
};

TEST_F(DispatchTest, PrintfStyleCallsBecomeStandardLinesInTheLoggersAndItsAncestorsFiles) {
  ZunLogger* db = Get(u"app.db", 58);
  AddFileAppender(&tree_.Root(), u"common", u"common.log");
  AddFileAppender(Logger::FromInterface(db), u"db", u"logs/db.log");

  ASSERT_RC(RC_OK, LogFormat(db, ZUN_SEVERITY_WARN, 0, u"opened %d files in %s", 3, u"/var/caf\u00e9"));
  ASSERT_RC(RC_OK, LogFormat(db, ZUN_SEVERITY_ERROR, 0, u"%s", static_cast<const char16_t*>(nullptr)));

  const std::string expected = std::string(kMark) + "[app.db] WARN " + Stamp("main.c:12.3.4.5") +
                               " MSG:opened 3 files in /var/caf\xC3\xA9\r\n" + "[app.db] ERROR " +
                               Stamp("main.c:12.3.4.5") + " MSG:(null)\r\n";
  EXPECT_EQ(expected, File("logs/db.log"));
  EXPECT_EQ(expected, File("common.log"));

  ZunLogger* root = Get(u"root", 58);
  ASSERT_RC(RC_OK, root->vtbl->LogRevisionText(root, ZUN_SEVERITY_FATAL, nullptr, nullptr, 1, 2, u"r9", 3, 0,
                                               nullptr));
  EXPECT_EQ(expected + "[root] FATAL " + Stamp("MISSINGFILEID:1.2.r9.3") + " MSG:*\r\n", File("common.log"));
  EXPECT_EQ(expected, File("logs/db.log")) << "a record goes up the tree, never down";

  std::vector<std::u16string> reported;
  for (const OpenedFileEntry* at = dispatcher_.OpenedFiles().Head(); at != nullptr; at = at->next) {
    reported.emplace_back(at->Path());
  }
  EXPECT_EQ(2u, reported.size()) << "each file reported once, before it was first opened";
}

TEST_F(DispatchTest, TypedArgumentsFromASourceAreRenderedAndScrambledWhenThereIsNoMessage) {
  ZunLogger* logger = Get(u"typed", 57);
  AddFileAppender(Logger::FromInterface(logger), u"typed", u"typed.log");
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  const ZunSourceInfo info{8097, 8, nullptr};

  ZunTypedArgument number{};
  number.kind = ZUN_ARG_UNSIGNED;
  number.value.u = 255;
  ZunTypedArgument text{};
  text.kind = ZUN_ARG_WIDE;
  text.value.span.data = u"it's\nhere";
  text.value.span.length = UINT32_MAX;
  test::ArgumentList bare;
  bare.arguments = {number, text};
  ASSERT_RC(RC_OK, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, nullptr, u"{610B}", 223, &info,
                                                 &bare.face));
  test::ArgumentList formatted;
  formatted.arguments = {number, text};
  ASSERT_RC(RC_OK, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"n=%u t=%s", u"{610B}", 223,
                                                 &info, &formatted.face));

  const std::vector<std::string> lines = Lines(File("typed.log").substr(3));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("[typed] WARN " + Stamp("{610B}:223.8097.-1.8") + " MSG:n=255 t=it's\nhere", lines[1]);

  // Scrambled: "a", then base64 of a key index and the payload ("a" and the
  // UTF-8 text) XOR-ed with that key of the table.
  const std::string prefix = "[typed] WARN " + Stamp("{610B}:223.8097.-1.8") + " MSG:a";
  EXPECT_EQ(prefix, lines[0].substr(0, prefix.size()));
  const std::u16string message = MessageOf(lines[0]);
  ASSERT_FALSE(message.empty());
  bool ok = false;
  std::string bytes = test::DecodeBase64(std::u16string_view(message).substr(1), &ok);
  ASSERT_TRUE(ok);
  ASSERT_GE(bytes.size(), 2u);
  const auto index = static_cast<std::uint8_t>(bytes[0]);
  ASSERT_LT(index, kScrambleKeyCount);
  ScrambleBytes(reinterpret_cast<std::uint8_t*>(bytes.data() + 1), bytes.size() - 1, ScrambleKeyAt(index));
  EXPECT_EQ("a'QWORD:0x00000000000000ff', 'STR:it''s\x0Bhere'", bytes.substr(1));
}

TEST_F(DispatchTest, RecordsFromASourceKeepTheirOwnTimeThreadAndProcess) {
  ZunLogger* logger = Get(u"replay", 58);
  AddFileAppender(Logger::FromInterface(logger), u"replay", u"replay.log");
  test::ViewSource source;
  for (int i = 0; i < 3; ++i) {
    CalendarTime when{2021, 3, 4, 5, 6, 7 + i, 89, 4};
    FileTime time = 0;
    ASSERT_RC(RC_OK, CalendarToFileTime(when, &time));
    ZunLogRecordView view{};
    view.severity = ZUN_SEVERITY_DEBUG;
    static const char16_t* const kMessages[] = {u"first", u"second", u"third and more"};
    view.message = kMessages[i];
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
  ASSERT_RC(RC_OK, logger->vtbl->LogRecords(logger, &source.face, 1));
  ASSERT_RC(RC_OK, logger->vtbl->LogRecords(logger, &source.face, 0));

  const std::string host = ToUtf8(GetCachedHostName());
  auto line = [&](int i, const char* message) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[replay] DEBUG 2021-03-04 05:06:%02d,089 %s PID:9 THID:%d ID:svc.cpp:%d.0.7.0 MSG:%s\r\n",
                  7 + i, host.c_str(), 100 + i, 40 + i, message);
    return std::string(text);
  };
  EXPECT_EQ(kMark + line(2, "third") + line(1, "second") + line(0, "first") + line(0, "first") +
                line(1, "second") + line(2, "third"),
            File("replay.log"));
}

TEST_F(DispatchTest, SessionCipherTextsFollowTheKeyRecordLineAtTheTopOfEachOpenedFile) {
  std::vector<std::uint8_t> key;
  WString keyRecordLine;
  ASSERT_RC(RC_OK, CreateSessionKey(key, keyRecordLine));
  tree_.SetKeyRecordLine(std::make_shared<const WString>(keyRecordLine));

  ZunLogger* keyed = Get(u"secure", 57);
  ZunLogger* plain = Get(u"plain", 58);
  AddFileAppender(Logger::FromInterface(keyed), u"secure", u"secure.log");
  AddFileAppender(Logger::FromInterface(plain), u"plain", u"plain.log");

  ASSERT_RC(RC_OK, LogFormat(keyed, ZUN_SEVERITY_INFO, 4, u"pin %d", 1234));
  ASSERT_RC(RC_OK, LogFormat(plain, ZUN_SEVERITY_INFO, 4, u"pin %d", 5678));
  ASSERT_RC(RC_OK, LoggerTree::FlushTree(&tree_.Root()));
  ASSERT_RC(RC_OK, LogFormat(keyed, ZUN_SEVERITY_INFO, 0, u"after reopen"));

  std::string bytes = File("secure.log");
  ASSERT_EQ(0u, bytes.find(kMark));
  const std::vector<std::string> lines = Lines(bytes.substr(3));
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(ToUtf8(keyRecordLine), lines[0]);
  EXPECT_EQ(ToUtf8(keyRecordLine), lines[2]) << "written again after the flush reopened the file";
  EXPECT_EQ("[secure] INFO " + Stamp("main.c:12.3.4.5") + " MSG:after reopen", lines[3]);

  // "d", the session tag of the key record, the payload length, then the
  // payload ("a" and UTF-8) Blowfish-encrypted under the session key.
  const std::u16string message = MessageOf(lines[1]);
  const std::u16string keyMessage = MessageOf(lines[0]);
  ASSERT_GE(message.size(), 31u);
  EXPECT_EQ(u'd', message[0]);
  EXPECT_EQ(keyMessage.substr(1, 20), message.substr(1, 20));
  EXPECT_EQ(u"0000000009", message.substr(21, 10));
  bool ok = false;
  const std::string cipher = test::DecodeBase64(std::u16string_view(message).substr(31), &ok);
  ASSERT_TRUE(ok);
  const std::string plainText =
      test::BlowfishCrypt(test::Bytes(key.data(), key.size()), cipher, /*encrypt=*/false);
  EXPECT_EQ(std::string("apin 1234") + std::string(7, '\0'), plainText);

  const std::vector<std::string> other = Lines(File("plain.log").substr(3));
  ASSERT_EQ(1u, other.size()) << "no key record line for a logger without flag bit 0";
  EXPECT_EQ(u'd', MessageOf(other[0])[0]);
}

TEST_F(DispatchTest, FailuresComeBackAsCodesAndWritingResumes) {
  ZunLogger* logger = Get(u"fragile", 58);
  AddFileAppender(Logger::FromInterface(logger), u"blocked", u"blocked.log");
  AddFileAppender(Logger::FromInterface(logger), u"fine", u"fine.log");
  AddFileAppender(&tree_.Root(), u"top", u"top.log");
  std::filesystem::create_directory(PathOf("blocked.log"));

  const ZunResult rc = LogFormat(logger, ZUN_SEVERITY_WARN, 0, u"one");
  EXPECT_EQ(0xA0000000u, rc & 0xF0000000u) << test::DescribeCode(rc);
  EXPECT_RC(AsWarning(ResultFromErrno(EISDIR)), rc);
  EXPECT_EQ(1u, Lines(File("fine.log").substr(3)).size());
  EXPECT_FALSE(std::filesystem::exists(PathOf("top.log"))) << "the parent is not written after a failure";

  // A message that cannot be protected is not written anywhere.
  const char16_t lone[] = {u'x', 0xD800, 0};
  EXPECT_RC(RC_INVALID_DATA, LogFormat(logger, ZUN_SEVERITY_WARN, 1, u"%s", lone));
  EXPECT_EQ(1u, Lines(File("fine.log").substr(3)).size());

  std::filesystem::remove(PathOf("blocked.log"));
  EXPECT_RC(RC_OK, LogFormat(logger, ZUN_SEVERITY_WARN, 0, u"two"));
  EXPECT_EQ(std::string(kMark) + "[fragile] WARN " + Stamp("main.c:12.3.4.5") + " MSG:two\r\n",
            File("blocked.log"));
  EXPECT_EQ(File("blocked.log"), File("top.log"));
}

}  // namespace
}  // namespace zun
