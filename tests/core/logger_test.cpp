#include "core/logger.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "core/logger_test_support.h"
#include "core/logger_tree.h"
#include "platform/process_info.h"
#include "support/test_support.h"

namespace zun {
namespace {

using test::ArgumentList;
using test::PassThroughOwner;
using test::RecordingAppender;
using test::ViewSource;

// A printf-style call through slot 3 the way a C host makes one; afterwards
// reads one more int from the same list, to see where the library left it.
ResultCode LogFullThenPeek(ZunLogger* logger, int* next, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ResultCode rc =
      logger->vtbl->LogFull(logger, ZUN_SEVERITY_ERROR, format, u"file.c", 12, 3, 4, 5, 0, &args);
  *next = va_arg(args, int);
  va_end(args);
  return rc;
}

// The tagged list of a typed-mode logger through slot 1.
ResultCode LogTagged(ZunLogger* logger, ...) {
  va_list args;
  va_start(args, logger);
  const ResultCode rc = logger->vtbl->Log(logger, ZUN_SEVERITY_INFO, nullptr, nullptr, 0, 0, 0, 0, 0, &args);
  va_end(args);
  return rc;
}

class LoggerTest : public ::testing::Test {
 protected:
  ZunLogger* Get(std::u16string_view name, std::uint32_t mask) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger != nullptr ? logger->Interface() : nullptr;
  }
  LogRecord Last() {
    const auto records = owner_.Records();
    return records.empty() ? LogRecord{} : records.back();
  }

  PassThroughOwner owner_;
  LoggerTree tree_{&owner_};
};

TEST_F(LoggerTest, LogFullFormatsFromTheCallersListAndLeavesItPastWhatItRead) {
  tree_.SetKeyRecordLine(std::make_shared<const WString>(u"key line"));
  ZunLogger* logger = Get(u"net.io", 58);
  EXPECT_EQ(std::u16string_view(u"net.io"), logger->vtbl->GetName(logger));

  int next = 0;
  ASSERT_RC(RC_OK, LogFullThenPeek(logger, &next, u"%d of %s", 42, u"many", 99));
  EXPECT_EQ(99, next);
  const LogRecord record = Last();
  EXPECT_EQ(u"42 of many", record.message);
  EXPECT_EQ(u"net.io", record.loggerName);
  EXPECT_EQ(kLoggerFlagBase | 58u, record.flags);
  EXPECT_EQ(ZUN_SEVERITY_ERROR, record.severity);
  EXPECT_EQ(u"file.c", record.fileId);
  EXPECT_EQ(12u, record.line);
  EXPECT_EQ(3u, record.buildNumber);
  EXPECT_EQ(4u, record.revision);
  EXPECT_EQ(5u, record.product);
  EXPECT_EQ(CurrentProcessId(), record.processId);
  EXPECT_EQ(CurrentThreadId(), record.threadId);
  EXPECT_TRUE(record.KeyRecordLineText().empty()) << "flag bit 0 is clear";

  ZunLogger* keyed = Get(u"net.io", 57);
  ASSERT_RC(RC_OK, LogFullThenPeek(keyed, &next, u"%d", 1, 2));
  EXPECT_EQ(u"key line", Last().KeyRecordLineText());
  EXPECT_EQ(u"1", Last().message) << "a message text is a format even in the typed mode";
}

TEST_F(LoggerTest, TheOtherLogSlotsReduceToTheFullOnes) {
  ZunLogger* logger = Get(u"slots", 0);
  ASSERT_RC(RC_OK, logger->vtbl->Log(logger, 1, u"one", u"f", 1, 2, 3, 4, 0, nullptr));
  EXPECT_EQ(u"one", Last().message);
  EXPECT_EQ(4u, Last().product);
  EXPECT_EQ(3u, Last().revision);

  ASSERT_RC(RC_OK, logger->vtbl->LogWithoutProduct(logger, 1, u"two", u"f", 1, 2, 3, 0, nullptr));
  EXPECT_EQ(u"two", Last().message);
  EXPECT_EQ(0u, Last().product);
  EXPECT_EQ(3u, Last().revision);

  ASSERT_RC(RC_OK, logger->vtbl->LogRevisionText(logger, 1, u"three", u"f", 1, 2, u"r9", 6, 2, nullptr));
  EXPECT_EQ(0xFFFFFFFFu, Last().revision);
  EXPECT_EQ(u"r9", Last().revisionText);
  EXPECT_EQ(6u, Last().product);
  EXPECT_EQ(2u, Last().protectionMode) << "the dispatcher, not the logger, encodes";
  EXPECT_EQ(u"three", Last().message);

  ASSERT_RC(RC_OK,
            logger->vtbl->LogRevisionTextFull(logger, 1, nullptr, nullptr, 0, 0, nullptr, 0, 0, nullptr));
  EXPECT_TRUE(Last().message.empty());
  EXPECT_TRUE(Last().revisionText.empty());
  EXPECT_EQ(4u, owner_.Records().size());
}

TEST_F(LoggerTest, TypedModeRendersTheTaggedListUpToItsEnd) {
  ZunLogger* logger = Get(u"typed", 57);
  ASSERT_RC(RC_OK, LogTagged(logger, ZUN_TAG_UINT32, 255u, ZUN_TAG_WIDE_TEXT, u"it's", ZUN_TAG_INT32, -2,
                             ZUN_TAG_END, ZUN_TAG_INT32, 5));
  EXPECT_EQ(u"'QWORD:0x00000000000000ff', 'STR:it''s', 'INT64:0xfffffffffffffffe'", Last().message);
}

TEST_F(LoggerTest, DispatchInterfaceAnswersOnlyItsOwnIdentifierBelowVersionTwo) {
  ZunLogger* logger = Get(u"q", 0);
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  ASSERT_NE(nullptr, dispatch);
  uint8_t found = 7;
  EXPECT_EQ(dispatch, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_DISPATCH, 0, &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(dispatch, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_DISPATCH, 1, &found));
  EXPECT_EQ(1, found);
  EXPECT_EQ(nullptr, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_DISPATCH, 2, &found));
  EXPECT_EQ(0, found);
  found = 7;
  EXPECT_EQ(nullptr, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_RECORD_SOURCE, 0, &found));
  EXPECT_EQ(0, found);
  EXPECT_NE(dispatch, Get(u"r", 0)->vtbl->GetDispatchInterface(Get(u"r", 0))) << "one per logger";
}

TEST_F(LoggerTest, LogFromSourceProtectsOnlyRenderedArguments) {
  ZunLogger* logger = Get(u"src", 57);
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  const ZunSourceInfo info{8097, 8, u"rev"};
  ZunTypedArgument number{};
  number.kind = ZUN_ARG_UNSIGNED;
  number.value.u = 26;

  ArgumentList bare;
  bare.arguments = {number};
  ASSERT_RC(RC_OK,
            dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, nullptr, u"id", 7, &info, &bare.face));
  EXPECT_EQ(u"'QWORD:0x000000000000001a'", Last().message) << "the dispatcher, not the logger, encodes";
  EXPECT_EQ(1u, Last().protectionMode);
  EXPECT_EQ(0xFFFFFFFFu, Last().revision);
  EXPECT_EQ(u"rev", Last().revisionText);

  ArgumentList formatted;
  formatted.arguments = {number};
  ASSERT_RC(RC_OK, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"n=%X", u"id", 7, &info,
                                                 &formatted.face));
  EXPECT_EQ(u"n=1A", Last().message);
  EXPECT_EQ(0u, Last().protectionMode);

  ArgumentList tooMany;
  tooMany.arguments = {number, number};
  EXPECT_RC(RC_EMPTY, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"%u", nullptr, 0, &info,
                                                    &tooMany.face));
  EXPECT_RC(RC_INVALID_PARAMETER,
            dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"x", nullptr, 0, &info, nullptr));
  EXPECT_EQ(2u, owner_.Records().size()) << "failed calls dispatch nothing";
}

TEST_F(LoggerTest, LogRecordsStopsAtTheFirstFailure) {
  tree_.SetKeyRecordLine(std::make_shared<const WString>(u"key line"));
  ZunLogger* logger = Get(u"batch", 57);
  ViewSource source;
  source.views.resize(3);

  ASSERT_RC(RC_OK, logger->vtbl->LogRecords(logger, &source.face, 1));
  EXPECT_EQ((std::vector<std::uint32_t>{2, 1, 0}), source.asked);
  EXPECT_EQ(u"key line", Last().KeyRecordLineText());

  source.failAt = 1;
  source.asked.clear();
  EXPECT_RC(RC_READ_FAULT, logger->vtbl->LogRecords(logger, &source.face, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 1}), source.asked);
  EXPECT_EQ(4u, owner_.Records().size());

  source.failAt = UINT32_MAX;
  source.asked.clear();
  owner_.FailAfter(5, RC_WRITE_FAULT);
  EXPECT_RC(RC_WRITE_FAULT, logger->vtbl->LogRecords(logger, &source.face, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 1}), source.asked) << "a dispatch failure stops the batch";
  EXPECT_EQ(5u, owner_.Records().size());

  ViewSource empty;
  EXPECT_RC(RC_OK, logger->vtbl->LogRecords(logger, &empty.face, 0));
  EXPECT_RC(RC_INVALID_PARAMETER, logger->vtbl->LogRecords(logger, nullptr, 0));
}

TEST_F(LoggerTest, ExportedSectionsConfigureAnEqualLogger) {
  ZunLogger* logger = Get(u"exp", 0);
  RecordingAppender first(u"first");
  RecordingAppender second(u"second");
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Logger::FromInterface(logger), &first));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Logger::FromInterface(logger), &second));

  ConfigSectionRef additive;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"exp", &additive));
  ASSERT_RC(RC_OK, logger->vtbl->ExportConfiguration(logger, additive.get()));
  WString value;
  EXPECT_RC(RC_OK, additive->GetValue(u"Type", &value));
  EXPECT_EQ(u"Logger", value);
  EXPECT_RC(RC_ITEM_NOT_PRESENT, additive->GetValue(u"Additive", &value));
  EXPECT_RC(RC_ITEM_NOT_PRESENT, additive->GetValue(u"Severity", &value));
  std::vector<WString> names;
  EXPECT_RC(RC_OK, additive->GetList(u"AddAppenders", &names));
  EXPECT_EQ((std::vector<WString>{u"\"first, second\""}), names);

  ConfigSectionRef own;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"own", &own));
  ConfigKeyRef key;
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Additive", &key));
  ASSERT_RC(RC_OK, key->SetPlainValue(u"no"));
  ASSERT_RC(RC_OK, own->AddKey(key));
  ASSERT_RC(RC_OK, ConfigKey::Create(u"Severity", &key));
  ASSERT_RC(RC_OK, key->SetPlainValue(u"detail"));
  ASSERT_RC(RC_OK, own->AddKey(key));
  ASSERT_RC(RC_OK, logger->vtbl->Configure(logger, own.get()));

  ConfigSectionRef exported;
  ASSERT_RC(RC_OK, ConfigSection::Create(u"exp", &exported));
  ASSERT_RC(RC_OK, logger->vtbl->ExportConfiguration(logger, exported.get()));
  EXPECT_RC(RC_OK, exported->GetValue(u"Additive", &value));
  EXPECT_EQ(u"false", value);
  EXPECT_RC(RC_OK, exported->GetValue(u"Severity", &value));
  EXPECT_EQ(u"DETAIL", value);

  ZunLogger* copy = Get(u"copy", 0);
  ASSERT_RC(RC_OK, copy->vtbl->Configure(copy, exported.get()));
  EXPECT_FALSE(Logger::FromInterface(copy)->IsAdditive());
  EXPECT_EQ(kSeverityDetail, Logger::FromInterface(copy)->Threshold());
  EXPECT_RC(RC_INVALID_PARAMETER, copy->vtbl->Configure(copy, nullptr));
}

}  // namespace
}  // namespace zun
