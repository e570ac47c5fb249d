// Bytes of any shape go through the file decoding, the parser and both
// writers. Beyond not crashing or hanging, the output must hold what the
// format promises: recorded errors lie on lines that were read, a document
// read from a file can always be written, and what is written reads back
// without errors as the same document (sections, keys, values, items and
// comments), from memory and from UTF-16LE file text alike, and is written
// again to the same text.

#include "config/config_reader.h"
#include "config/config_writer.h"
#include "fuzz_support.h"
#include "support/config_description.h"

namespace {

using zun::fuzz::Check;

// Reads `source` back, which must give no errors and the document that
// `described` describes, and writes it again.
zun::WString ReadBack(zun::LineSource& source, const zun::WString& described) {
  zun::ConfigDocument again;
  Check(zun::ParseDocument(again, source) == zun::RC_OK && again.Errors().empty());
  Check(zun::test::DescribeDocument(again) == described);
  zun::MemoryLineSink text;
  Check(zun::WriteDocument(again, text) == zun::RC_OK);
  return zun::WString(text.Text());
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
  const zun::WString described = zun::test::DescribeDocument(document);
  zun::MemoryLineSource source(text.Text());
  Check(ReadBack(source, described) == text.Text());

  zun::MemoryStream file;
  zun::TextFileWriter writer(file, zun::TextEncoding::kUtf16Le, zun::LineEnd::kCrLf);
  Check(writer.WriteMark() == zun::RC_OK && zun::WriteDocument(document, writer) == zun::RC_OK);
  Check(writer.Flush() == zun::RC_OK && file.Seek(0, 0) == zun::RC_OK);
  zun::TextFileReader fileReader(file);
  ReadBack(fileReader, described);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  ReadAndWrite(data, size, zun::TextEncoding::kNone);
  ReadAndWrite(data, size, static_cast<zun::TextEncoding>(1 + size % 5));
  return 0;
}
