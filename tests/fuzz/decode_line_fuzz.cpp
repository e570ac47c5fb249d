// Log files read back by zunlog decode: the input, as a file, through the
// line reader, then the key-record pass and the decode of every line with
// the development private key.
//
// Checks: the reader hands out lines without a line feed and consumes the
// whole input; for input without a UTF-16 mark the lines and their ends put
// together (after any UTF-8 mark) are exactly the input bytes; every line is
// decoded or refused with a reason, and a line without a word that could be
// a protected text or key record comes back unchanged.

#include "fuzz_support.h"
#include "zunlog/line_reader.h"
#include "zunlog/log_decoder.h"

using zun::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // fmemopen may refuse an empty buffer.
  if (size == 0) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::FILE* file = fmemopen(input.data(), size, "rb");
  Check(file != nullptr);

  zunlog::LineReader reader(file);
  std::vector<std::string> lines;
  std::string line, end, joined = input.starts_with("\xEF\xBB\xBF") ? "\xEF\xBB\xBF" : "";
  while (reader.Next(&line, &end)) {
    Check(line.find('\n') == std::string::npos);
    Check(end == "\r\n" || end == "\n" || end.empty());
    joined += line + end;
    lines.push_back(line);
  }
  std::fclose(file);
  Check(reader.BytesRead() == size);
  if (!input.starts_with("\xFF\xFE")) Check(joined == input);

  // A decoder of its own for each input, so that no key found in one
  // unlocks another's texts.
  zunlog::LogDecoder decoder;
  Check(decoder.LoadPrivateKey(ZUNLOGX_TEST_DATA_DIR "/protect/dev_private_key.pem").empty());
  for (const std::string& l : lines) decoder.CollectKey(l);
  for (const std::string& l : lines) {
    std::string out, reason;
    const bool decoded = decoder.DecodeLine(l, &out, &reason);
    Check(decoded ? out == l || l.find_first_of("abcd") != std::string::npos : !reason.empty());
  }
  return 0;
}
