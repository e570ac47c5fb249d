#include "log_decoder.h"

#include <algorithm>
#include <cstdint>

namespace zunlog {

namespace {

constexpr char kKeyRecordLogger[] = "ZUN.LOG.SM";

// The fields of a line in the standard layout ("[logger] ... PID:n THID:n
// ID:... MSG:message") that reading needs.
struct LineFields {
  bool standard = false;
  std::string_view logger;
  std::uint32_t pid = 0;
  std::size_t message = 0;

  bool IsKeyRecord(std::string_view line) const {
    return standard && logger == kKeyRecordLogger && line.substr(message).starts_with('c');
  }
};

LineFields ParseLine(std::string_view line) {
  if (!line.starts_with('[')) return {};
  const std::size_t close = line.find("] ");
  const std::size_t pid = close == std::string_view::npos ? close : line.find(" PID:", close);
  const std::size_t id = pid == std::string_view::npos ? pid : line.find(" ID:", pid);
  const std::size_t message = id == std::string_view::npos ? id : line.find(" MSG:", id);
  if (message == std::string_view::npos) return {};
  std::uint32_t number = 0;
  for (std::size_t at = pid + 5; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
    number = number * 10 + static_cast<std::uint32_t>(line[at] - '0');
  }
  return {true, line.substr(1, close - 1), number, message + 5};
}

}  // namespace

void LogDecoder::CollectKey(std::string_view line) {
  const LineFields fields = ParseLine(line);
  if (fields.IsKeyRecord(line)) forms_.AddKeyRecord(line.substr(fields.message), fields.pid);
}

bool LogDecoder::DecodeLine(std::string_view line, std::string* out, std::string* reason) {
  using Result = ProtectedForms::Result;
  std::string text;
  const LineFields fields = ParseLine(line);
  if (fields.IsKeyRecord(line)) {
    *reason = forms_.AddKeyRecord(line.substr(fields.message), fields.pid);
    out->assign(line);
    return reason->empty();
  }
  if (fields.standard) {
    const std::string_view message = line.substr(fields.message);
    const Result result = forms_.Decode(message, fields.pid, true, &text);
    if (result == Result::kUnreadable) {
      *reason = std::move(text);
      return false;
    }
    out->assign(result == Result::kDecoded ? line.substr(0, fields.message) : line);
    if (result == Result::kDecoded) out->append(text);
    return true;
  }
  switch (forms_.Decode(line, 0, true, &text)) {
    case Result::kDecoded:
      *out = std::move(text);
      return true;
    case Result::kUnreadable:
      *reason = std::move(text);
      return false;
    case Result::kNotAForm:
      break;
  }
  out->clear();
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t word = line.find_first_not_of(" \t", at);
    out->append(line.substr(at, word - at));
    if (word == std::string_view::npos) break;
    at = std::min(line.find_first_of(" \t", word), line.size());
    const std::string_view token = line.substr(word, at - word);
    const Result result = forms_.Decode(token, 0, false, &text);
    if (result == Result::kUnreadable) {
      *reason = std::move(text);
      return false;
    }
    out->append(result == Result::kDecoded ? std::string_view(text) : token);
  }
  return true;
}

}  // namespace zunlog
