#include "appenders/custom_layout.h"

#include <new>

#include "platform/clock.h"
#include "platform/names.h"
#include "records/log_record.h"
#include "records/severity.h"

namespace zun {

namespace {

struct TokenName {
  LayoutToken token;
  WStringView text;
};

// In the order tokens are tried. No name is a prefix of another, so the
// order decides nothing today; keeping it keeps that true for additions.
constexpr TokenName kTokenNames[] = {
    {LayoutToken::kLogger, u"%logger"},     {LayoutToken::kSeverity, u"%severity"},
    {LayoutToken::kHostName, u"%hostname"}, {LayoutToken::kDate, u"%date"},
    {LayoutToken::kTime, u"%time"},         {LayoutToken::kFileName, u"%filename"},
    {LayoutToken::kLine, u"%line"},         {LayoutToken::kBuildNr, u"%buildnr"},
    {LayoutToken::kSvnRev, u"%svnrev"},     {LayoutToken::kMsg, u"%msg"},
    {LayoutToken::kProduct, u"%product"},   {LayoutToken::kPid, u"%pid"},
    {LayoutToken::kTid, u"%tid"},
};

// The most characters a token of bounded output prints: an 11-character
// signed number, a date with a five-digit year, or a 12-character time.
constexpr std::size_t kMaxBoundedTokenChars = 12;

// The token whose name starts `text` (any letter case), else kLiteral.
LayoutToken MatchToken(WStringView text, std::size_t* length) {
  for (const TokenName& name : kTokenNames) {
    if (text.size() >= name.text.size() && EqualsIgnoreCase(text.substr(0, name.text.size()), name.text)) {
      *length = name.text.size();
      return name.token;
    }
  }
  return LayoutToken::kLiteral;
}

// Appends a literal run with every backslash-"n" pair turned into a line
// feed. May throw std::bad_alloc.
void AppendLiteral(const WString& run, CompiledFormat& compiled) {
  WString literal;
  literal.reserve(run.size());
  for (std::size_t i = 0; i < run.size(); ++i) {
    if (run[i] == u'\\' && i + 1 < run.size() && run[i + 1] == u'n') {
      literal.push_back(u'\n');
      ++i;
    } else {
      literal.push_back(run[i]);
    }
  }
  compiled.literals.push_back(std::move(literal));
  compiled.tokens.push_back(LayoutToken::kLiteral);
}

}  // namespace

WStringView LayoutTokenText(LayoutToken token) noexcept {
  for (const TokenName& name : kTokenNames) {
    if (name.token == token) return name.text;
  }
  return {};
}

ResultCode CompileLayoutFormat(WStringView format, CompiledFormat* out) noexcept {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    CompiledFormat compiled;
    WString run;
    std::size_t i = 0;
    while (i < format.size()) {
      const char16_t c = format[i];
      if (c == u'%') {
        if (i + 1 < format.size() && format[i + 1] == u'%') {
          run.push_back(u'%');
          i += 2;
          continue;
        }
        std::size_t length = 0;
        const LayoutToken token = MatchToken(format.substr(i), &length);
        if (token != LayoutToken::kLiteral) {
          if (!run.empty()) {
            AppendLiteral(run, compiled);
            run.clear();
          }
          compiled.tokens.push_back(token);
          i += length;
          continue;
        }
      }
      run.push_back(c);
      ++i;
    }
    if (!run.empty()) AppendLiteral(run, compiled);
    *out = std::move(compiled);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode RebuildLayoutFormat(const CompiledFormat& compiled, WString* out) noexcept {
  if (out == nullptr) return RC_INVALID_PARAMETER;
  try {
    WString text;
    std::size_t nextLiteral = 0;
    for (const LayoutToken token : compiled.tokens) {
      if (token != LayoutToken::kLiteral) {
        text.append(LayoutTokenText(token));
        continue;
      }
      if (nextLiteral >= compiled.literals.size()) continue;
      for (const char16_t c : compiled.literals[nextLiteral++]) {
        if (c == u'\n') {
          // Configuration text holds no line feed inside a value.
          text.append(u"\\n");
          continue;
        }
        if (c == u'%') text.push_back(u'%');
        text.push_back(c);
      }
    }
    *out = std::move(text);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode CustomLayout::Render(WString& out, const LogRecord& record) const noexcept {
  out.clear();
  CalendarTime when{};
  if (needsTime_ && Failed(FileTimeToCalendar(record.time, &when))) when = CalendarTime{};
  const WString& hostName = GetCachedHostName();
  try {
    std::size_t needed = fixedChars_;
    for (const LayoutToken token : compiled_.tokens) {
      switch (token) {
        case LayoutToken::kLogger:
          needed += record.loggerName.size();
          break;
        case LayoutToken::kHostName:
          needed += hostName.size();
          break;
        case LayoutToken::kFileName:
          needed += record.fileId.size();
          break;
        case LayoutToken::kMsg:
          needed += record.message.size();
          break;
        default:
          break;
      }
    }
    out.reserve(needed);

    std::size_t nextLiteral = 0;
    for (const LayoutToken token : compiled_.tokens) {
      switch (token) {
        case LayoutToken::kLiteral:
          out.append(compiled_.literals[nextLiteral++]);
          break;
        case LayoutToken::kLogger:
          out.append(record.loggerName);
          break;
        case LayoutToken::kSeverity:
          out.append(SeverityToText(record.severity));
          break;
        case LayoutToken::kHostName:
          out.append(hostName);
          break;
        case LayoutToken::kDate:
          AppendLineDate(when, out);
          break;
        case LayoutToken::kTime:
          AppendLineTime(when, out);
          break;
        case LayoutToken::kFileName:
          out.append(record.fileId);
          break;
        case LayoutToken::kLine:
          AppendDecimal(static_cast<std::int32_t>(record.line), 1, out);
          break;
        case LayoutToken::kBuildNr:
          AppendDecimal(static_cast<std::int32_t>(record.buildNumber), 1, out);
          break;
        case LayoutToken::kSvnRev:
          AppendDecimal(static_cast<std::int32_t>(record.revision), 1, out);
          break;
        case LayoutToken::kMsg:
          out.append(record.message);
          break;
        case LayoutToken::kProduct:
          AppendDecimal(static_cast<std::int32_t>(record.product), 1, out);
          break;
        case LayoutToken::kPid:
          AppendDecimal(record.processId, 1, out);
          break;
        case LayoutToken::kTid:
          AppendDecimal(record.threadId, 1, out);
          break;
      }
    }
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode CustomLayout::LoadConfig(const ConfigSection& section) noexcept {
  try {
    WString type;
    ResultCode rc = section.GetValue(u"LayoutType", &type);
    if (rc == RC_ITEM_NOT_PRESENT) return RC_LAYOUT_TYPE_MISMATCH;
    if (Failed(rc)) return rc;
    if (type != kLayoutTypeCustom) return RC_LAYOUT_TYPE_MISMATCH;

    WString format;
    rc = section.GetValue(u"Format", &format);
    if (Failed(rc)) return rc;
    // Configuration texts are zero-terminated: a zero read from a file ends
    // the format, header or footer, and so never reaches a log line.
    CompiledFormat compiled;
    rc = CompileLayoutFormat(UpToZero(format), &compiled);
    if (Failed(rc)) return rc;

    WString header;
    WString footer;
    rc = section.GetValue(u"Header", &header);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;
    rc = section.GetValue(u"Footer", &footer);
    if (Failed(rc) && rc != RC_ITEM_NOT_PRESENT) return rc;

    std::size_t fixedChars = 0;
    bool needsTime = false;
    for (const LayoutToken token : compiled.tokens) {
      switch (token) {
        case LayoutToken::kLiteral:
        case LayoutToken::kLogger:
        case LayoutToken::kHostName:
        case LayoutToken::kFileName:
        case LayoutToken::kMsg:
          break;
        case LayoutToken::kDate:
        case LayoutToken::kTime:
          needsTime = true;
          [[fallthrough]];
        default:
          fixedChars += kMaxBoundedTokenChars;
          break;
      }
    }
    for (const WString& literal : compiled.literals) fixedChars += literal.size();

    header.resize(UpToZero(header).size());
    footer.resize(UpToZero(footer).size());

    // Nothing below allocates: the layout changes whole or not at all.
    compiled_ = std::move(compiled);
    header_ = std::move(header);
    footer_ = std::move(footer);
    fixedChars_ = fixedChars;
    needsTime_ = needsTime;
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode CustomLayout::SaveConfig(ConfigSection& section) const noexcept {
  WString format;
  ResultCode rc = RebuildLayoutFormat(compiled_, &format);
  if (Succeeded(rc)) rc = section.SetValue(u"Type", u"Layout");
  if (Succeeded(rc)) rc = section.SetValue(u"LayoutType", kLayoutTypeCustom);
  if (Succeeded(rc)) rc = section.SetValue(u"Format", format);
  if (Succeeded(rc) && !header_.empty()) rc = section.SetValue(u"Header", header_);
  if (Succeeded(rc) && !footer_.empty()) rc = section.SetValue(u"Footer", footer_);
  return rc;
}

ResultCode CustomLayout::GetHeader(WString& out) const noexcept {
  if (header_.empty()) return RC_OK;
  try {
    out.assign(header_);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode CustomLayout::GetFooter(WString& out) const noexcept {
  if (footer_.empty()) return RC_OK;
  try {
    out.assign(footer_);
    return RC_OK;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
