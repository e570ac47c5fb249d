#include "core/logger_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_document.h"
#include "core/logger_test_support.h"
#include "support/test_support.h"

namespace zun {
namespace {

using test::PassThroughOwner;
using test::RecordingAppender;

// A section holding the keys with their plain values, as a configuration
// file would give them.
ConfigSectionRef Section(std::vector<std::pair<std::u16string, std::u16string>> keys) {
  ConfigSectionRef section;
  EXPECT_RC(RC_OK, ConfigSection::Create(u"logger", &section));
  for (const auto& [name, value] : keys) {
    ConfigKeyRef key;
    EXPECT_RC(RC_OK, ConfigKey::Create(name, &key));
    EXPECT_RC(RC_OK, key->SetPlainValue(value));
    EXPECT_RC(RC_OK, section->AddKey(key));
  }
  return section;
}

class LoggerTreeTest : public ::testing::Test {
 protected:
  Logger* Get(std::u16string_view name, std::uint32_t mask = 0) {
    Logger* logger = nullptr;
    EXPECT_RC(RC_OK, tree_.GetOrCreate(&logger, mask, name));
    return logger;
  }
  // Logs one record with `message` through the logger's LogFull slot.
  ResultCode LogThrough(Logger* logger, const char16_t* message) {
    ZunLogger* face = logger->Interface();
    return face->vtbl->LogFull(face, ZUN_SEVERITY_WARN, message, u"tree.cpp", 1, 0, 0, 0, 0, nullptr);
  }

  PassThroughOwner owner_;
  LoggerTree tree_{&owner_};
};

TEST_F(LoggerTreeTest, EmptySegmentsAreSkippedSoEverySpellingFindsOneLogger) {
  Logger* ab = Get(u"a..b");
  ASSERT_NE(nullptr, ab);
  EXPECT_EQ(u"a.b", ab->Name());
  Logger* a = tree_.Find(u"a");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, ab->Parent());
  EXPECT_EQ(&tree_.Root(), a->Parent());

  EXPECT_EQ(ab, tree_.Find(u"a.b"));
  EXPECT_EQ(ab, tree_.Find(u"a..b"));
  EXPECT_EQ(ab, tree_.Find(u".a.b."));
  EXPECT_EQ(ab, Get(u"a.b"));
  EXPECT_EQ(nullptr, tree_.Find(u"a.c"));
  EXPECT_EQ(nullptr, tree_.Find(u"A.b")) << "segments compare with case";

  for (std::u16string_view rootName : {u"", u"root", u"ROOT", u"rOoT", u"..."}) {
    EXPECT_EQ(&tree_.Root(), Get(rootName)) << std::string(rootName.begin(), rootName.end());
  }
  EXPECT_EQ(u"root", tree_.Root().Name());

  std::size_t position = 99;
  EXPECT_EQ(a, LoggerTree::FindDeepest(&tree_.Root(), u"a.x.y", &position));
  EXPECT_EQ(2u, position);
  EXPECT_EQ(ab, LoggerTree::FindDeepest(&tree_.Root(), u"a..b", &position));
  EXPECT_EQ(4u, position);
}

TEST_F(LoggerTreeTest, ABlankRefusesTheSegmentThatWouldBeCreated) {
  Logger* untouched = reinterpret_cast<Logger*>(0x1);
  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"a b"));
  EXPECT_EQ(reinterpret_cast<Logger*>(0x1), untouched);
  EXPECT_EQ(nullptr, tree_.Find(u"a"));

  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"x.y z"));
  Logger* x = tree_.Find(u"x");
  ASSERT_NE(nullptr, x) << "the first segment stays created";
  EXPECT_EQ(nullptr, x->FindChild(u"y z"));
  EXPECT_EQ(nullptr, x->FindChild(u"y"));
  EXPECT_RC(RC_INVALID_LOGGER_NAME, tree_.GetOrCreate(&untouched, 0, u"root "));
}

TEST_F(LoggerTreeTest, ClientMasksAccumulateAndBit16IsAlwaysSet) {
  EXPECT_EQ(kLoggerFlagBase, tree_.Root().Flags());
  Logger* m = Get(u"m.n", 57);
  EXPECT_EQ(kLoggerFlagBase | 57u, m->Flags());
  EXPECT_EQ(kLoggerFlagBase, tree_.Find(u"m")->Flags()) << "only the logger asked for gets the mask";
  Get(u"m.n", 58);
  EXPECT_EQ(kLoggerFlagBase | 57u | 58u, m->Flags());
  Get(u"root", 1);
  EXPECT_EQ(kLoggerFlagBase | 1u, tree_.Root().Flags());
}

TEST_F(LoggerTreeTest, ThresholdsFlowDownToAdditiveLoggersOnly) {
  Logger* warn = Get(u"w");
  LoggerTree::SetThreshold(warn, kSeverityWarn);
  EXPECT_EQ(kSeverityWarn, Get(u"w.child.grandchild")->Threshold()) << "new loggers start at the parent's";

  Logger* a = Get(u"a");
  Logger* ab = Get(u"a.b");
  Logger* lone = Get(u"lone");
  Logger* loneChild = Get(u"lone.child");
  ASSERT_RC(RC_OK, lone->Configure(*Section({{u"Additive", u"no"}, {u"Severity", u"debug"}})));
  EXPECT_EQ(kSeverityDebug, lone->Threshold());
  EXPECT_EQ(kSeverityDebug, loneChild->Threshold());

  LoggerTree::SetThreshold(&tree_.Root(), kSeverityError);
  EXPECT_EQ(kSeverityError, a->Threshold());
  EXPECT_EQ(kSeverityError, ab->Threshold());
  EXPECT_EQ(kSeverityError, warn->Threshold());
  EXPECT_EQ(kSeverityDebug, lone->Threshold());
  EXPECT_EQ(kSeverityDebug, loneChild->Threshold()) << "the subtree of a non-additive logger keeps its own";
}

TEST_F(LoggerTreeTest, OnlyExactFalseNoOrZeroMakeALoggerNonAdditive) {
  Logger* parent = Get(u"p");
  LoggerTree::SetThreshold(parent, kSeverityWarn);
  Logger* child = Get(u"p.c");

  for (const char16_t* value : {u"FALSE", u"False", u"No", u"off", u"", u"true"}) {
    ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", value}, {u"Severity", u"FATAL"}})));
    EXPECT_TRUE(child->IsAdditive()) << std::string(value, value + std::char_traits<char16_t>::length(value));
    EXPECT_EQ(kSeverityWarn, child->Threshold()) << "an additive child takes its parent's, Severity unread";
  }
  for (const char16_t* value : {u"false", u"no", u"0"}) {
    ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", value}, {u"Severity", u"FATAL"}})));
    EXPECT_FALSE(child->IsAdditive());
    EXPECT_EQ(kSeverityFatal, child->Threshold());
  }
  ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", u"0"}, {u"Severity", u"LOUD"}})));
  EXPECT_EQ(kSeverityInfo, child->Threshold()) << "an unknown name is INFO";
  ASSERT_RC(RC_OK, child->Configure(*Section({{u"Additive", u"0"}})));
  EXPECT_EQ(kSeverityInfo, child->Threshold()) << "no Severity is INFO";

  ASSERT_RC(RC_OK, child->Configure(*Section({})));
  EXPECT_TRUE(child->IsAdditive()) << "without the key a logger with a parent is additive";
  ASSERT_RC(RC_OK, tree_.Root().Configure(*Section({{u"Severity", u"error"}})));
  EXPECT_FALSE(tree_.Root().IsAdditive()) << "the root never is";
  EXPECT_EQ(kSeverityError, tree_.Root().Threshold());
  EXPECT_EQ(kSeverityError, child->Threshold());
}

TEST_F(LoggerTreeTest, IsEnabledIsStrictlyAboveTheThreshold) {
  ZunDispatch* dispatch = Get(u"e")->Interface()->vtbl->GetDispatchInterface(Get(u"e")->Interface());
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_INFO));
  EXPECT_EQ(1, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_INFO + 1));
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_DEBUG));
  LoggerTree::SetThreshold(&tree_.Root(), kSeverityAll);
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_ALL));
  EXPECT_EQ(1, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_ALL + 1));
  LoggerTree::SetThreshold(&tree_.Root(), kSeverityOff);
  EXPECT_EQ(0, dispatch->vtbl->IsEnabled(dispatch, ZUN_SEVERITY_OFF));
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
  EXPECT_RC(0xA0010043u, LogThrough(logger, u"first"));
  EXPECT_EQ(std::vector<std::u16string>{u"first"}, healthy.Messages());
  EXPECT_TRUE(atRoot.Messages().empty()) << "the parent is not written after a failure";

  failing.FailWith(RC_OK);
  EXPECT_RC(RC_OK, LogThrough(logger, u"second"));
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, failing.Messages());
  EXPECT_EQ((std::vector<std::u16string>{u"first", u"second"}), healthy.Messages());
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, atRoot.Messages()) << "svc has no appenders of its own";

  // A failure already softened to a warning stays that warning; a failure
  // up the tree is the call's result too.
  healthy.FailWith(RC_WARN_TIMEOUT);
  atRoot.FailWith(RC_ACCESS_DENIED);
  EXPECT_RC(RC_WARN_TIMEOUT, LogThrough(logger, u"third"));
  healthy.FailWith(RC_OK);
  EXPECT_RC(0xA0010058u, LogThrough(logger, u"fourth"));

  atRoot.FailWith(RC_OK);
  ASSERT_RC(RC_OK, logger->Configure(*Section({{u"Additive", u"false"}})));
  EXPECT_RC(RC_OK, LogThrough(logger, u"fifth"));
  EXPECT_EQ(std::vector<std::u16string>{u"second"}, atRoot.Messages()) << "a non-additive logger stops";
}

TEST_F(LoggerTreeTest, WalksVisitChildrenInUtf16LittleEndianByteOrder) {
  // Byte-wise over UTF-16LE: U+0100 (00 01) sorts before "a" (61 00), and
  // U+00FF (FF 00) after "b" (62 00); a prefix sorts first.
  std::vector<std::u16string> closed;
  std::vector<std::unique_ptr<RecordingAppender>> appenders;
  for (std::u16string name : {u"b", u"\u00FF", u"ab", u"a", u"\u0100", u"a.z", u"a.y"}) {
    appenders.push_back(std::make_unique<RecordingAppender>(name, &closed));
    ASSERT_RC(RC_OK, LoggerTree::AddAppender(Get(name), appenders.back().get()));
    ASSERT_RC(RC_OK, appenders.back()->Open());
  }
  ASSERT_RC(RC_OK, LoggerTree::FlushTree(&tree_.Root()));
  EXPECT_EQ((std::vector<std::u16string>{u"\u0100", u"a", u"a.y", u"a.z", u"ab", u"b", u"\u00FF"}), closed);
  for (const auto& appender : appenders) EXPECT_FALSE(appender->IsOpened());
}

TEST_F(LoggerTreeTest, FlushStopsAtALoggersFirstFailureButVisitsEveryLogger) {
  class StubbornAppender final : public Appender {
   public:
    StubbornAppender() : Appender(nullptr, u"stubborn") {}

   protected:
    ResultCode Write(WStringView) noexcept override { return RC_OK; }
    ResultCode CloseTarget() noexcept override { return RC_INVALID_HANDLE; }
  };
  StubbornAppender stubborn;
  RecordingAppender afterIt(u"after");
  RecordingAppender inChild(u"child");
  Logger* parent = Get(u"f");
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(parent, &stubborn));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(parent, &afterIt));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(Get(u"f.g"), &inChild));
  for (Appender* appender : std::initializer_list<Appender*>{&stubborn, &afterIt, &inChild}) {
    ASSERT_RC(RC_OK, appender->Open());
  }

  EXPECT_RC(RC_INVALID_HANDLE, LoggerTree::FlushTree(&tree_.Root()));
  EXPECT_TRUE(stubborn.IsOpened());
  EXPECT_TRUE(afterIt.IsOpened()) << "the logger's later appenders wait for the next flush";
  EXPECT_FALSE(inChild.IsOpened());
}

TEST_F(LoggerTreeTest, ResetReturnsTheSubtreeToItsUnconfiguredState) {
  RecordingAppender appender(u"r");
  Logger* a = Get(u"a");
  Logger* ab = Get(u"a.b");
  ASSERT_RC(RC_OK, tree_.Root().Configure(*Section({{u"Severity", u"FATAL"}})));
  ASSERT_RC(RC_OK, a->Configure(*Section({{u"Additive", u"false"}, {u"Severity", u"DEBUG"}})));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(ab, &appender));
  ASSERT_RC(RC_OK, LoggerTree::AddAppender(&tree_.Root(), &appender));
  ASSERT_EQ(kSeverityDebug, ab->Threshold());

  LoggerTree::ResetTree(&tree_.Root());
  for (Logger* logger : {&tree_.Root(), a, ab}) {
    EXPECT_EQ(kSeverityInfo, logger->Threshold());
    EXPECT_TRUE(logger->IsAdditive());
    std::vector<WString> names;
    ASSERT_RC(RC_OK, logger->AppenderNames(&names));
    EXPECT_TRUE(names.empty());
  }
  EXPECT_RC(RC_OK, LogThrough(ab, u"nowhere"));
  EXPECT_TRUE(appender.Messages().empty());
  EXPECT_EQ(ab, tree_.Find(u"a.b")) << "loggers survive a reset";
}

TEST_F(LoggerTreeTest, ResetOfASubtreeTakesTheParentsCurrentThreshold) {
  Logger* a = Get(u"a");
  Logger* ab = Get(u"a.b");
  ASSERT_RC(RC_OK, a->Configure(*Section({{u"Additive", u"0"}, {u"Severity", u"DEBUG"}})));
  LoggerTree::SetThreshold(&tree_.Root(), kSeverityWarn);
  LoggerTree::ResetTree(a);
  EXPECT_EQ(kSeverityWarn, a->Threshold());
  EXPECT_EQ(kSeverityWarn, ab->Threshold());
  EXPECT_EQ(kSeverityWarn, tree_.Root().Threshold());
}

}  // namespace
}  // namespace zun
