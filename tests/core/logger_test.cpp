// Loggers and the logger tree: names, thresholds, appender lists and the
// log slots hosts call.
#include "core/logger_tree.h"

#include <algorithm>
#include <cstdarg>

#include "core/logger_test_support.h"

namespace zun {
namespace {

using test::ArgumentList;
using test::LoggerTreeTest;
using test::RecordingAppender;
using test::Section;

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

// Records pass through the owner; the last one's standard line is read back.
// The root's appender takes every record, so each call is built.
class LoggerTest : public LoggerTreeTest {
 protected:
  void SetUp() override { ASSERT_RC(RC_OK, LoggerTree::AddAppender(&tree_.Root(), &all_)); }
  RecordingAppender all_{u"all"};

  LogRecord Last() {
    const auto records = owner_.Records();
    return records.empty() ? LogRecord{} : records.back();
  }
  WString Line() {
    WString line;
    EXPECT_RC(RC_OK, FormatMessageLine(Last(), line));
    return line;
  }
  // The last record's standard line from " ID:" on.
  WString Tail() { return Line().substr(Line().find(u" ID:")); }
};

TEST_F(LoggerTest, LogFullFormatsFromTheCallersListAndLeavesItPastWhatItRead) {
  tree_.SetKeyRecordLine(std::make_shared<const WString>(u"key line"));
  ZunLogger* logger = Get(u"net.io", 58)->Interface();
  int next = 0;
  ASSERT_RC(RC_OK, LogFullThenPeek(logger, &next, u"%d of %s", 42, u"many", 99));
  EXPECT_EQ(99, next);
  EXPECT_EQ(u" ID:file.c:12.3.4.5 MSG:42 of many", Tail());
  EXPECT_TRUE(Last().KeyRecordLineText().empty()) << "flag bit 0 is clear";

  // Client masks accumulate: 58 | 57 sets bit 0 (typed mode, key line).
  ZunLogger* keyed = Get(u"net.io", 57)->Interface();
  ASSERT_RC(RC_OK, LogFullThenPeek(keyed, &next, u"%d", 1, 2));
  EXPECT_EQ(u"key line", Last().KeyRecordLineText());
  EXPECT_EQ(u"1", Last().message) << "a message text is a format even in the typed mode";
}

// A call no appender would take is not built, yet ends as a built one would:
// same code, the caller's list taken as far as the text would take it.
TEST_F(LoggerTest, ACallNoAppenderTakesIsDroppedUnbuiltAsIfBuilt) {
  ZunLogger* logger = Get(u"quiet")->Interface();
  ASSERT_RC(RC_OK, all_.LoadConfig(*Section({{u"BreakSeverity", u"FATAL"}})));
  int next = 0;
  ASSERT_RC(RC_OK, LogFullThenPeek(logger, &next, u"%*d %hs %Lf %r|", 3, 42, "n", 1.5L, u"ab", 2u, 99));
  EXPECT_EQ(99, next);
  ASSERT_RC(RC_OK, logger->vtbl->Log(logger, ZUN_SEVERITY_WARN, u"%d", u"f", 1, 2, 3, 4, 0, nullptr));
  EXPECT_TRUE(owner_.Records().empty());

  // Each change of what is taken counts: a lower break severity, a
  // non-additive logger with an appender of its own, an appender retired.
  ASSERT_RC(RC_OK, all_.LoadConfig(*Section({})));
  ASSERT_RC(RC_OK, LogFullThenPeek(logger, &next, u"%d", 1, 2));
  EXPECT_EQ(1u, owner_.Records().size());
  ASSERT_RC(RC_OK, logger->vtbl->Configure(logger, Section({{u"Additive", u"no"}}).get()));
  ASSERT_RC(RC_OK, LogFullThenPeek(logger, &next, u"%d", 1, 2));
  EXPECT_EQ(1u, owner_.Records().size()) << "no appender of its own";
  RecordingAppender own{u"own"};
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Logger::FromInterface(logger), &own));
  ASSERT_RC(RC_OK, own.Retire());
  EXPECT_RC(AsWarning(RC_NOT_AVAILABLE), LogFullThenPeek(logger, &next, u"%d", 1, 2));
  EXPECT_EQ(2u, owner_.Records().size());
  LoggerTree::ClearAppenders(Logger::FromInterface(logger));
}

TEST_F(LoggerTest, TheOtherLogSlotsReduceToTheFullOnes) {
  ZunLogger* logger = Get(u"slots")->Interface();
  ASSERT_RC(RC_OK, logger->vtbl->Log(logger, 1, u"100% %d", u"f", 1, 2, 3, 4, 0, nullptr));
  EXPECT_EQ(u" ID:f:1.2.3.4 MSG:100% %d", Tail()) << "without a list the text is copied";
  ASSERT_RC(RC_OK, logger->vtbl->LogWithoutProduct(logger, 1, u"two", u"f", 1, 2, 3, 0, nullptr));
  EXPECT_EQ(u" ID:f:1.2.3.0 MSG:two", Tail());
  ASSERT_RC(RC_OK, logger->vtbl->LogRevisionText(logger, 1, u"three", u"f", 1, 2, u"r9", 6, 2, nullptr));
  EXPECT_EQ(u" ID:f:1.2.r9.6 MSG:three", Tail());
  EXPECT_EQ(2u, Last().protectionMode) << "the dispatcher, not the logger, encodes";
  ASSERT_RC(RC_OK,
            logger->vtbl->LogRevisionTextFull(logger, 1, nullptr, nullptr, 0, 0, nullptr, 0, 0, nullptr));
  EXPECT_EQ(u" ID:MISSINGFILEID:0.0.-1.0 MSG:*", Tail());
}

TEST_F(LoggerTest, LogFromSourceProtectsOnlyRenderedArguments) {
  ZunLogger* logger = Get(u"src", 57)->Interface();
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  uint8_t found = 7;
  EXPECT_EQ(dispatch, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_DISPATCH, 1, &found));
  EXPECT_EQ(nullptr, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_DISPATCH, 2, &found));
  EXPECT_EQ(nullptr, dispatch->vtbl->QueryInterface(dispatch, ZUN_IID_RECORD_SOURCE, 0, &found));

  const ZunSourceInfo info{8097, 8, u"rev"};
  ArgumentList bare({test::Unsigned(26)});
  ASSERT_RC(RC_OK,
            dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, nullptr, u"id", 7, &info, &bare.face));
  EXPECT_EQ(u" ID:id:7.8097.rev.8 MSG:'QWORD:0x000000000000001a'", Tail());

  ArgumentList formatted({test::Unsigned(26)});
  ASSERT_RC(RC_OK, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"n=%X", u"id", 7, &info,
                                                 &formatted.face));
  EXPECT_EQ(u"n=1A", Last().message);

  ArgumentList tooMany({test::Unsigned(1), test::Unsigned(2)});
  EXPECT_RC(RC_EMPTY, dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"%u", nullptr, 0, &info,
                                                    &tooMany.face));
  EXPECT_RC(RC_INVALID_PARAMETER,
            dispatch->vtbl->LogFromSource(dispatch, ZUN_SEVERITY_WARN, u"x", nullptr, 0, &info, nullptr));
  EXPECT_EQ(2u, owner_.Records().size()) << "failed calls dispatch nothing";
}

TEST_F(LoggerTreeTest, EmptySegmentsAreSkippedAndBlanksRefused) {
  Logger* ab = Get(u"a..b");
  ASSERT_EQ(u"a.b", ab->Name());
  EXPECT_EQ(&tree_.Root(), ab->Parent()->Parent());
  for (std::u16string_view spelling : {u"a.b", u".a.b."}) EXPECT_EQ(ab, tree_.Find(spelling));
  EXPECT_EQ(ab->Parent(), Get(u"a"));
  EXPECT_EQ(nullptr, tree_.Find(u"A.b")) << "segments compare with case";
  for (std::u16string_view rootName : {u"", u"rOoT", u"..."}) EXPECT_EQ(&tree_.Root(), Get(rootName));

  // Children are kept in UTF-16LE byte order: U+0100 (00 01) before "a" (61 00).
  std::vector<WString> names{u"b", u"\u00FF", u"ab", u"a", u"\u0100"};
  std::sort(names.begin(), names.end(), SegmentLess{});
  EXPECT_EQ((std::vector<WString>{u"\u0100", u"a", u"ab", u"b", u"\u00FF"}), names);

  // A blank refuses the segment that would be created.
  Logger* untouched = reinterpret_cast<Logger*>(0x1);
  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"c d"));
  EXPECT_EQ(reinterpret_cast<Logger*>(0x1), untouched);
  EXPECT_EQ(nullptr, tree_.Find(u"c"));
  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"x.y z"));
  ASSERT_NE(nullptr, tree_.Find(u"x")) << "the first segment stays created";
  EXPECT_EQ(nullptr, tree_.Find(u"x")->FindChild(u"y"));
}

TEST_F(LoggerTreeTest, ThresholdsFlowDownToAdditiveLoggersAndEnableOnlyWhatIsAbove) {
  Logger* warn = Get(u"w");
  LoggerTree::SetThreshold(warn, kSeverityWarn);
  EXPECT_EQ(kSeverityWarn, Get(u"w.child.grandchild")->Threshold()) << "new loggers start at the parent's";

  Logger* lone = Get(u"lone");
  Logger* loneChild = Get(u"lone.child");
  ASSERT_RC(RC_OK, lone->Configure(*Section({{u"Additive", u"no"}, {u"Severity", u"debug"}})));
  EXPECT_EQ(kSeverityDebug, loneChild->Threshold());
  ASSERT_RC(RC_OK, tree_.Root().Configure(*Section({{u"Severity", u"error"}})));
  EXPECT_FALSE(tree_.Root().IsAdditive());
  EXPECT_EQ(kSeverityError, warn->Threshold());
  EXPECT_EQ(kSeverityDebug, lone->Threshold());
  EXPECT_EQ(kSeverityDebug, loneChild->Threshold()) << "the subtree of a non-additive logger keeps its own";

  LoggerTree::ResetTree(lone);
  EXPECT_EQ(kSeverityError, loneChild->Threshold()) << "a reset subtree takes its parent's threshold";
  EXPECT_TRUE(lone->IsAdditive());
  LoggerTree::ResetTree(&tree_.Root());
  EXPECT_EQ(kSeverityInfo, warn->Threshold());

  // IsEnabled is strictly above the threshold.
  ZunDispatch* dispatch = Get(u"e")->DispatchInterface();
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_INFO));
  EXPECT_EQ(1, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_INFO + 1));
  LoggerTree::SetThreshold(&tree_.Root(), kSeverityAll);
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_ALL));
  EXPECT_EQ(1, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_ALL + 1));
}

TEST_F(LoggerTreeTest, OnlyExactFalseNoOrZeroMakeALoggerNonAdditive) {
  Logger* parent = Get(u"p");
  LoggerTree::SetThreshold(parent, kSeverityWarn);
  Logger* child = Get(u"p.c");
  // An additive child keeps its parent's threshold.
  for (const std::u16string value : {u"FALSE", u"No", u"off", u"", u"false", u"no", u"0"}) {
    ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", value}, {u"Severity", u"FATAL"}})));
    const bool additive = value != u"false" && value != u"no" && value != u"0";
    EXPECT_EQ(additive, child->IsAdditive()) << ToUtf8(value);
    EXPECT_EQ(additive ? kSeverityWarn : kSeverityFatal, child->Threshold()) << ToUtf8(value);
  }
  ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", u"0"}, {u"Severity", u"LOUD"}})));
  EXPECT_EQ(kSeverityInfo, child->Threshold()) << "an unknown name is INFO";
  ASSERT_RC(RC_OK, child->Configure(*Section({})));
  EXPECT_TRUE(child->IsAdditive()) << "without the key a logger with a parent is additive";
}

TEST_F(LoggerTreeTest, OneFailingAppenderWarnsKeepsTheOthersAndStopsAtThisLogger) {
  RecordingAppender failing(u"failing"), healthy(u"healthy"), atRoot(u"atRoot");
  Logger* logger = Get(u"svc.db");
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(logger, &failing));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(logger, &healthy));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(&tree_.Root(), &atRoot));

  failing.FailWith(RC_WRITE_FAULT);
  EXPECT_RC(0xA0010043u, Warn(logger, u"first"));
  EXPECT_EQ(std::vector<std::u16string>{u"first"}, healthy.Messages());
  EXPECT_TRUE(atRoot.Messages().empty()) << "the parent is not written after a failure";

  failing.FailWith(RC_OK);
  EXPECT_RC(RC_OK, Warn(logger, u"second"));
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, failing.Messages());
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, atRoot.Messages()) << "svc has no appenders of its own";

  // A warning stays that warning; a failure up the tree is the call's too.
  healthy.FailWith(RC_WARN_TIMEOUT);
  atRoot.FailWith(RC_ACCESS_DENIED);
  EXPECT_RC(RC_WARN_TIMEOUT, Warn(logger, u"third"));
  healthy.FailWith(RC_OK);
  EXPECT_RC(0xA0010058u, Warn(logger, u"fourth"));

  atRoot.FailWith(RC_OK);
  ASSERT_RC(RC_OK, logger->Configure(*Section({{u"Additive", u"false"}})));
  EXPECT_RC(RC_OK, Warn(logger, u"fifth"));
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, atRoot.Messages()) << "a non-additive logger stops";
  LoggerTree::ResetTree(&tree_.Root());
  EXPECT_RC(RC_OK, Warn(logger, u"nowhere"));
  EXPECT_EQ(4u, failing.Messages().size()) << "a reset drops every appender";
}

TEST_F(LoggerTreeTest, FlushStopsAtALoggersFirstFailureButVisitsEveryLogger) {
  RecordingAppender stubborn(u"stubborn"), afterIt(u"after"), inChild(u"child");
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Get(u"f"), &stubborn));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Get(u"f"), &afterIt));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Get(u"f.g"), &inChild));
  for (RecordingAppender* appender : {&stubborn, &afterIt, &inChild}) ASSERT_RC(RC_OK, appender->Open());
  stubborn.FailWith(RC_INVALID_HANDLE);
  EXPECT_RC(RC_INVALID_HANDLE, LoggerTree::FlushTree(&tree_.Root()));
  EXPECT_TRUE(afterIt.IsOpened()) << "the logger's later appenders wait for the next flush";
  EXPECT_FALSE(inChild.IsOpened());
}

}  // namespace
}  // namespace zun
