#include "support/test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zun::test {

void TempDirTest::SetUp() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zunlogx-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void TempDirTest::TearDown() {
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

WString TempDirTest::WidePath(const std::string& name) const { return ToUtf16(PathOf(name).string()); }

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string DescribeCode(ResultCode rc) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", rc);
  const char* name = ResultCodeName(rc);
  return name ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

std::string HostProgram(const std::string& name) { return std::string(ZUNLOGX_HOST_DIR) + "/" + name; }

}  // namespace zun::test
