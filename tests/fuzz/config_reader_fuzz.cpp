// Bytes of any shape go through the file decoding, the parser and both
// writers. Beyond not crashing or hanging, the output must hold what the
// format promises: recorded errors lie on lines that were read, and a
// written document reads back with the same sections and no header errors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config/config_reader.h"
#include "config/config_writer.h"

namespace {

std::vector<zun::WString> SectionNames(const zun::ConfigDocument& document) {
  std::vector<zun::WString> names;
  for (const auto& [name, section] : document.Sections()) names.push_back(name);
  return names;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadAndWrite(const std::uint8_t* data, std::size_t size, zun::TextEncoding preset) {
  zun::MemoryStream input(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size),
                          static_cast<std::uint32_t>(size), true);
  zun::TextFileReader reader(input, preset);
  zun::ConfigDocument document;
  if (zun::Failed(zun::ParseDocument(document, reader))) return;
  std::uint64_t previous = 0;
  for (const zun::ConfigLineError& error : document.Errors()) {
    Check(error.line >= 1 && error.line <= document.LineCount() && error.line >= previous);
    previous = error.line;
  }

  zun::MemoryLineSink text;
  Check(zun::WriteDocument(document, text) == zun::RC_OK);

  zun::MemoryStream file;
  zun::TextFileWriter writer(file, zun::TextEncoding::kUtf16Le, zun::LineEnd::kCrLf);
  Check(writer.WriteMark() == zun::RC_OK);
  Check(zun::WriteDocument(document, writer) == zun::RC_OK);
  Check(writer.Flush() == zun::RC_OK);

  zun::ConfigDocument again;
  zun::MemoryLineSource source(text.Text());
  Check(zun::ParseDocument(again, source) == zun::RC_OK);
  Check(SectionNames(document) == SectionNames(again));
  for (const zun::ConfigLineError& error : again.Errors()) {
    Check(error.code != zun::RC_TEXT_ERROR_16 && error.code != zun::RC_TEXT_ERROR_17 &&
          error.code != zun::RC_TEXT_ERROR_18);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  ReadAndWrite(data, size, zun::TextEncoding::kNone);
  ReadAndWrite(data, size, static_cast<zun::TextEncoding>(1 + size % 5));
  return 0;
}
