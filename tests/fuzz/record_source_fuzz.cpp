// Records made elsewhere, handed to a logger through a host's record source,
// written by two file appenders: the standard line into one file, "%msg"
// alone into another.
//
// Input: a byte whose bit 0 asks for reverse order, then records, each a
// control byte (bit 0: Get fails with the code that follows; bits 1-2: the
// protection mode 0, 1, 4 or the 4 bytes that follow; bit 3: any time, else
// a time the calendar can show), then severity, line, build number,
// revision, product, thread and process (4 bytes each), the time (8), and
// three texts (message, file identifier, revision text), each a head byte
// (0xFF: no text; bit 7: up to its zero; bits 0-6: the count of units) and
// its units.
//
// Checks: the source is asked for each item once, in order, until the first
// failure, which LogRecords returns; every record written is one line in
// each file it reached (a time the calendar cannot show stops the standard
// line only); a plain record's lines are what its layout renders, as UTF-8;
// a protected message is one of the protected forms; every log file starts
// with its mark and holds no zero byte.

#include "appenders/custom_layout.h"
#include "appenders/standard_layout.h"
#include "core/dispatcher.h"
#include "core/logger_tree.h"
#include "fuzz_support.h"
#include "records/log_record.h"

namespace {

using namespace zun;
using namespace zun::fuzz;

constexpr std::size_t kMaxRecords = 16;
constexpr FileTime kLastShownTime = 0x7FFFFFFFFFFFFFFFull;

struct Item {
  ZunLogRecordView view{};
  ResultCode getFails = RC_OK;
  std::unique_ptr<char16_t[]> texts[3];
};

struct Source {
  ZunRecordSource face{&kTable};
  std::vector<Item>& items;
  std::vector<std::uint32_t> asked;

  static uint32_t Count(ZunRecordSource* self) {
    return static_cast<uint32_t>(reinterpret_cast<Source*>(self)->items.size());
  }
  static ZunResult Get(ZunRecordSource* self, uint32_t index, ZunLogRecordView* out) {
    auto* source = reinterpret_cast<Source*>(self);
    Check(index < source->items.size());
    source->asked.push_back(index);
    const Item& item = source->items[index];
    if (Succeeded(item.getFails)) *out = item.view;
    return item.getFails;
  }
  static constexpr ZunRecordSourceVtbl kTable = {
      &fuzz::QueryHostInterface<ZUN_IID_RECORD_SOURCE, ZunRecordSource>, &Count, &Get};
};

// A text of the input, kept alive by `owner`; `*length` as a host gives it.
const char16_t* ReadText(InputReader& in, std::unique_ptr<char16_t[]>& owner, uint32_t* length) {
  const std::uint8_t head = in.Byte();
  *length = 0;
  if (head == 0xFF) return nullptr;
  // The standard line holds each text on the record's own line; line breaks
  // inside texts are the escaping option's business, tested elsewhere.
  WString units = in.Units(head & 0x7F);
  for (char16_t& unit : units) unit = unit == u'\r' || unit == u'\n' ? u'_' : unit;
  owner.reset(new char16_t[units.size() + 1]());
  units.copy(owner.get(), units.size());
  *length = (head & 0x80) ? UINT32_MAX : static_cast<uint32_t>(units.size());
  return owner.get();
}

Item ReadItem(InputReader& in) {
  Item item;
  ZunLogRecordView& v = item.view;
  const std::uint8_t control = in.Byte();
  if (control & 1) item.getFails = 0xE0010000u | static_cast<ResultCode>(in.Number(2));
  constexpr std::uint32_t kModes[] = {0, ZUN_PROTECT_SCRAMBLE, ZUN_PROTECT_SESSION};
  const unsigned mode = (control >> 1) & 3;
  v.protectionMode = mode < 3 ? kModes[mode] : static_cast<std::uint32_t>(in.Number(4));
  v.severity = static_cast<std::int32_t>(in.Number(4));
  for (uint32_t* field : {&v.line, &v.buildNumber, &v.revision, &v.product, &v.threadId, &v.processId}) {
    *field = static_cast<uint32_t>(in.Number(4));
  }
  const FileTime time = in.Number(8) & ((control & 8) ? ~FileTime{0} : 0x00FFFFFFFFFFFFFFull);
  v.timeLow = static_cast<uint32_t>(time);
  v.timeHigh = static_cast<uint32_t>(time >> 32);
  v.message = ReadText(in, item.texts[0], &v.messageLength);
  v.fileId = ReadText(in, item.texts[1], &v.fileIdLength);
  v.revisionText = ReadText(in, item.texts[2], &v.revisionTextLength);
  return item;
}

// One logger writing the standard line into standard.log and the message
// alone into message.log, both in the temporary folder.
struct Target {
  Dispatcher dispatcher;
  LoggerTree tree{&dispatcher};
  StandardLayout standard{WString(u"standard")};
  CustomLayout messageOnly{WString(u"message")};
  std::unique_ptr<FileAppender> standardFile = MakeFileAppender(&dispatcher, u"standard.log");
  std::unique_ptr<FileAppender> messageFile = MakeFileAppender(&dispatcher, u"message.log");
  Logger* logger = nullptr;

  Target() {
    Check(messageOnly.LoadConfig(*SectionOf(u"[message]\nLayoutType = Custom\nFormat = %msg\n")) == RC_OK);
    standardFile->AttachLayout(&standard);
    messageFile->AttachLayout(&messageOnly);
    Check(tree.GetOrCreate(&logger, 58, u"records") == RC_OK);
    Check(LoggerTree::AddAppender(logger, standardFile.get()) == RC_OK);
    Check(LoggerTree::AddAppender(logger, messageFile.get()) == RC_OK);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Target target;
  InputReader in{data, size};
  const bool reverse = in.Byte() & 1;
  std::vector<Item> items;
  while (in.Left() > 0 && items.size() < kMaxRecords) items.push_back(ReadItem(in));

  Source source{.items = items};
  ZunLogger* logger = target.logger->Interface();
  const ResultCode rc = logger->vtbl->LogRecords(logger, &source.face, reverse ? 1 : 0);
  const std::vector<std::string> standardLines = TakeLines(*target.standardFile);
  const std::vector<std::string> messageLines = TakeLines(*target.messageFile);

  // What each item asked for should have happened, up to the first failure.
  ResultCode expected = RC_OK;
  std::size_t asked = 0, standardAt = 0, messageAt = 0;
  while (asked < items.size() && expected == RC_OK) {
    const std::size_t index = reverse ? items.size() - 1 - asked : asked;
    Check(asked < source.asked.size() && source.asked[asked++] == index);
    const Item& item = items[index];
    expected = item.getFails;
    if (Failed(expected)) break;
    LogRecord record;
    Check(BuildRecordFromView(u"records", target.logger->Flags(), nullptr, item.view, &record) == RC_OK);
    const bool plain = record.protectionMode == 0 || record.message.empty();
    std::string utf8;
    const bool lone = !plain && Failed(AppendUtf8FromUtf16(record.message, utf8));
    if (lone || (!plain && record.protectionMode == ZUN_PROTECT_SESSION)) {
      // A lone surrogate cannot be protected; without a log system this
      // process has no session key.
      expected = lone ? RC_INVALID_DATA : RC_NOT_SUPPORTED;
      break;
    }
    Check(messageAt < messageLines.size());
    const std::string& message = messageLines[messageAt++];
    Check(plain ? message == ToUtf8(record.message)
                : message[0] == (record.protectionMode == ZUN_PROTECT_PUBLIC_KEY ? 'b' : 'a'));
    if (record.time > kLastShownTime) {
      expected = AsWarning(RC_INVALID_TIME);
      break;
    }
    Check(standardAt < standardLines.size());
    const std::string& line = standardLines[standardAt++];
    WString rendered;
    Check(plain ? FormatMessageLine(record, rendered) == RC_OK && line == ToUtf8(rendered)
                : line.starts_with("[records] "));
  }
  Check(rc == expected && asked == source.asked.size());
  Check(standardAt == standardLines.size() && messageAt == messageLines.size());
  return 0;
}
