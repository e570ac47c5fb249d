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
  const auto block = Block(5, u"a.cfg", 1);
  WString name;
  std::uint32_t selector = 7;
  ASSERT_RC(0u, DecodeReconfigureBlock(block.data(), block.size(), &name, &selector));
  EXPECT_EQ(u"a.cfg", name);
  EXPECT_EQ(1u, selector);
  // Without a known end the same bytes decode the same way.
  ASSERT_RC(0u, DecodeReconfigureBlock(block.data(), SIZE_MAX, &name, &selector));
  EXPECT_EQ(u"a.cfg", name);

  for (const std::uint64_t count : {0x100000000ull, 0xFFFFFFFFull}) {
    const auto big = Block(count, u"", 0);
    EXPECT_RC(RC_INVALID_DATA, DecodeReconfigureBlock(big.data(), big.size(), &name, &selector)) << count;
  }
  // Refused before room for four thousand million characters is asked for.
  const auto beyondEnd = Block(0xFFFFFFFEull, u"ab", 0);
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(beyondEnd.data(), beyondEnd.size(), &name, &selector));
  const auto good = Block(3, u"abc", 2);
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), 7, &name, &selector));   // count
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), 13, &name, &selector));  // a unit
  EXPECT_RC(RC_INPUT_TRUNCATED, DecodeReconfigureBlock(good.data(), good.size() - 1, &name, &selector));
  EXPECT_RC(0u, DecodeReconfigureBlock(good.data(), good.size(), &name, &selector));
  EXPECT_EQ(2u, selector);
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

TEST(RemoteEntryPoints, EndTheirThreadWithTheResult) {
  auto empty = Block(0, u"", 0);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, empty.data()));
  auto upperHalf = Block(0x100000001ull, u"", 0);
  EXPECT_RC(RC_INVALID_DATA, RunRemote(ZunLogLibraryRemoteReconfigure, upperHalf.data()));
  // Selector 2 names no client: nothing happens, and that is success.
  const ZunGuid id = ZUN_LOG_INTERFACE_ID_1;
  ILog* log = nullptr;
  ASSERT_RC(0u, ZunGetLogObject(&id, &log));
  auto selector2 = Block(3, u"xxx", 2);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReconfigure, selector2.data()));
  EXPECT_EQ(0, log->vtbl->HasFolders(log));
  ZunReleaseLogObject(&id, log);
  EXPECT_RC(0u, RunRemote(ZunLogLibraryRemoteReloadConfig, nullptr));
  EXPECT_RC(0u, ZunLogLibraryReconfigure(nullptr, 0));
}

}  // namespace
}  // namespace zun
