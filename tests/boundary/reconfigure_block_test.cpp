#include "boundary/reconfigure_block.h"

#include <pthread.h>

#include <vector>

#include "support/test_support.h"
#include "zunlogx/zunlogx.h"

namespace zun {
namespace {

std::vector<std::uint8_t> Block(std::uint64_t count, const std::u16string& name, std::uint32_t selector) {
  std::vector<std::uint8_t> b;
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
  for (char16_t c : name) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(selector >> (8 * i)));
  return b;
}

TEST(ReconfigureBlock, DecodesLittleEndianFieldsAndRefusesBadCountsAndTruncation) {
  const auto good = Block(5, u"a.cfg", 0x01020304);
  const auto beyondEnd = Block(0xFFFFFFFEull, u"ab", 0);
  const struct {
    std::vector<std::uint8_t> bytes;
    std::size_t size;  // SIZE_MAX: no known end
    ResultCode rc;
  } cases[] = {
      {good, good.size(), 0},
      {good, SIZE_MAX, 0},
      {Block(0xFFFFFFFFull, u"", 0), 12, RC_INVALID_DATA},
      // Refused before room for four thousand million characters is asked for.
      {beyondEnd, beyondEnd.size(), RC_INPUT_TRUNCATED},
      {good, 7, RC_INPUT_TRUNCATED},  // the count
      {good, good.size() - 1, RC_INPUT_TRUNCATED},
  };
  for (const auto& c : cases) {
    WString name = u"kept";
    std::uint32_t selector = 7;
    EXPECT_RC(c.rc, DecodeReconfigureBlock(c.bytes.data(), c.size, &name, &selector)) << c.size;
    if (c.rc == 0) {
      EXPECT_EQ(u"a.cfg", name);
      EXPECT_EQ(0x01020304u, selector);
    }
  }
}

// Starts a thread at a remote entry point the way another process would and
// returns the thread's exit value.
ResultCode RunRemote(void* (*entry)(void*), void* parameter) {
  pthread_t thread;
  EXPECT_EQ(0, pthread_create(&thread, nullptr, entry, parameter));
  void* status = nullptr;
  EXPECT_EQ(0, pthread_join(thread, &status));
  return static_cast<ResultCode>(reinterpret_cast<std::uintptr_t>(status));
}

// Selector 2 names no client: nothing happens, and that is success.
TEST(RemoteEntryPoints, EndTheirThreadWithTheResult) {
  auto upperHalf = Block(0x100000001ull, u"", 0);
  EXPECT_RC(RC_INVALID_DATA, RunRemote(ZunLogLibraryRemoteReconfigure, upperHalf.data()));
  auto selector2 = Block(3, u"xxx", 2);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, selector2.data()));
  EXPECT_RC(0u, ZunLogLibraryReconfigure(nullptr, 0));
}

}  // namespace
}  // namespace zun
