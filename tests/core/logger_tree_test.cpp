#include "core/logger_tree.h"

#include <algorithm>

#include "core/logger_test_support.h"

namespace zun {
namespace {

using test::LoggerTreeTest;
using test::RecordingAppender;
using test::Section;

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
  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"root "));
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
  RecordingAppender failing(u"failing");
  RecordingAppender healthy(u"healthy");
  RecordingAppender atRoot(u"atRoot");
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
  EXPECT_TRUE(logger->IsAdditive());
  EXPECT_RC(RC_OK, Warn(logger, u"nowhere"));
  EXPECT_EQ(4u, failing.Messages().size()) << "a reset drops every appender";
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, atRoot.Messages());
}

TEST_F(LoggerTreeTest, FlushStopsAtALoggersFirstFailureButVisitsEveryLogger) {
  RecordingAppender stubborn(u"stubborn");
  RecordingAppender afterIt(u"after");
  RecordingAppender inChild(u"child");
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
