#include "protect/protected_text.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "protect/session_key.h"
#include "protect_test_support.h"
#include "records/protected_record.h"
#include "support/test_support.h"

namespace zun {
namespace {

constexpr std::uint8_t kScrambleTable[16 * 64] = {
#include "protect/scramble_table.inc"
};

// The log system's side: one session key and key record line per process.
struct Session {
  std::vector<std::uint8_t> key;
  WString line;
  Session() {
    EXPECT_EQ(RC_OK, CreateSessionKey(key));
    EXPECT_EQ(RC_OK, MakeKeyRecordLine(line));
  }
};
const Session& ProcessSession() {
  static const Session session;
  return session;
}

std::string Payload(std::string_view utf8) { return "a" + std::string(utf8); }

// From here on getrandom fails with ENOSYS in this process, as on a kernel
// without it. False when the process may not filter its system calls.
bool DenyKernelRandom() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{sizeof(filter) / sizeof(filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// The reader's side: the private key, the table, and the session key and tag
// it recovers from the key record.
class ProtectedTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with another public key";
    ASSERT_TRUE(test::DevelopmentPrivateKey());
    const WString marker = u" ID:ZUN.LOG.SM:0.0.0.0 MSG:";
    const std::size_t msg = ProcessSession().line.find(marker);
    ASSERT_NE(WString::npos, msg);
    const WString record = ProcessSession().line.substr(msg + marker.size());
    ASSERT_EQ(366u, record.size());
    ASSERT_EQ(u'c', record[0]);
    tag_ = ToUtf8(record.substr(1, 20));
    const std::string payload = Read(WStringView(record).substr(21));
    ASSERT_EQ(57u, payload.size()) << "tag byte and 56 base64 characters";
    sessionKey_ = test::DecodeBase64(ToUtf16(payload.substr(1))).value_or("");
  }

  WString Make(ProtectionMode mode, WStringView text, ProtectionMode expectedModeAfter) {
    WString out;
    ProtectionMode after = 12345;
    EXPECT_EQ(RC_OK, MakeProtectedText(mode, text, out, &after));
    EXPECT_EQ(expectedModeAfter, after) << "mode " << mode;
    return out;
  }

  // The payload a protected text carries, or "" after a reported failure.
  std::string Read(WStringView text) {
    const char16_t form = text.empty() ? 0 : text[0];
    if (form == u'd' && text.size() > 31 && ToUtf8(text.substr(1, 20)) == tag_) {
      // "d", the tag, n in 10 digits, base64 of n bytes zero-padded to whole blocks
      const std::size_t n = std::stoul(ToUtf8(text.substr(21, 10)));
      const std::string plain =
          test::BlowfishCrypt(sessionKey_, test::DecodeBase64(text.substr(31)).value_or(""), false);
      if (plain.size() == (n + 7) / 8 * 8 && plain.find_first_not_of('\0', n) == std::string::npos) {
        return plain.substr(0, n);
      }
    }
    std::string bytes = form == 0 ? "" : test::DecodeBase64(text.substr(1)).value_or("");
    if (form == u'a' && bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) < 16) {
      const std::uint8_t* key = kScrambleTable + 64 * static_cast<unsigned char>(bytes[0]);
      for (std::size_t j = 1; j < bytes.size(); ++j) bytes[j] ^= static_cast<char>(key[(j - 1) % 64]);
      return bytes.substr(1);
    }
    if (form == u'b' && bytes.size() > 1 && bytes[0] == 0) {
      if (auto payload =
              test::RsaDecryptBlocks(test::DevelopmentPrivateKey(), std::string_view(bytes).substr(1)))
        return *payload;
    }
    ADD_FAILURE() << "unreadable text " << ToUtf8(text);
    return {};
  }

  std::string tag_, sessionKey_;
};

TEST_F(ProtectedTextTest, LoneSurrogatesFailInEveryProtectingModeWhileModeZeroKeepsThemByteForByte) {
  for (ProtectionMode mode : {0u, 1u, 3u, 4u}) {
    for (const WString& text :
         {WString(u"ok\xD800"), WString(u"\xDC00ok"), WString(u"\xD83D\x41\0z", 4), WString()}) {
      LogRecord record;
      record.message = text;
      record.protectionMode = mode;
      EXPECT_RC(mode == 0 || text.empty() ? RC_OK : RC_INVALID_DATA, EncodeMessageText(record)) << mode;
      EXPECT_EQ(text, record.message);
      EXPECT_EQ(mode, record.protectionMode);
    }
  }
}

// Sizes: "a" and base64 of the key index byte and the payload; "b" and
// base64 of a zero byte and one 256-byte block per 245 payload bytes; "d",
// the tag, n (counting the tag byte: 8 fill one block, 9 need two) in ten
// digits and base64 of whole blocks. Modes without a form of their own
// scramble and are kept as 1.
TEST_F(ProtectedTextTest, EveryFormDecodesWithItsKeyToTheTextsPayload) {
  const WString longer(150, u'\u00FC');  // longer than one key of the table
  const WString oneBlock(244, u'q'), twoBlocks(245, u'q'), mixed = u"\u4E2D\U0001F600 " + WString(600, u'z');
  const struct {
    ProtectionMode mode, after;
    WStringView text;
    std::size_t size;
  } cases[] = {
      {1, 1, u"abc", 9},       {1, 1, longer, 405},    {2, 2, u"secret", 13},   {5, 1, u"secret", 13},
      {~0u, 1, u"secret", 13}, {3, 3, oneBlock, 345},  {3, 3, twoBlocks, 685},  {3, 3, mixed, 1029},
      {4, 4, u"abc", 43},      {4, 4, u"abcdefg", 43}, {4, 4, u"abcdefgh", 55},
  };
  for (const auto& c : cases) {
    const WString out = Make(c.mode, c.text, c.after);
    EXPECT_EQ(c.size, out.size()) << "mode " << c.mode;
    EXPECT_EQ(Payload(ToUtf8(c.text)), Read(out)) << "mode " << c.mode;
  }
}

// Children forked from one state draw keys of their own, which a generator
// copied by fork would not; a child without the kernel's random source gets
// no key at all, so no "d" text, rather than a weaker one.
TEST(SessionKey, ForkedChildrenDrawTheirOwnKeysAndNeverFallBackToAWeakerSource) {
  const auto draw = [] {
    std::vector<std::uint8_t> key;
    std::string drawn = test::DescribeCode(CreateSessionKey(key));
    for (const std::uint8_t byte : key) drawn += "." + std::to_string(byte);
    return drawn;
  };
  const std::string first = test::RunInChild({}, draw);
  EXPECT_EQ(40, std::count(first.begin(), first.end(), '.')) << first;
  EXPECT_NE(first, test::RunInChild({}, draw));
  const std::string denied = test::RunInChild({}, [] {
    std::vector<std::uint8_t> key;
    WString text;
    if (!DenyKernelRandom()) return std::string("unfiltered");
    std::string codes = test::DescribeCode(SetSessionKey(nullptr, 0));
    codes += test::DescribeCode(CreateSessionKey(key));
    return codes + test::DescribeCode(MakeProtectedText(4, u"x", text, nullptr));
  });
  if (denied == "unfiltered") GTEST_SKIP() << "system calls cannot be filtered here";
  EXPECT_EQ(
      test::DescribeCode(RC_OK) + test::DescribeCode(RC_NOT_SUPPORTED) + test::DescribeCode(RC_NOT_SUPPORTED),
      denied);
}

// Threads encode in every mode at once, sharing the generator, the session
// key and the RSA key, while one more keeps storing the session key and
// making key records; each text must decode to its own payload.
TEST_F(ProtectedTextTest, ConcurrentEncodingInAllModesGivesOnlyWellFormedTexts) {
  constexpr int kThreads = 8, kPerThread = 30;
  const ProtectionMode modes[] = {0, 1, 2, 3, 4, 9};
  const char16_t forms[] = {u'r', u'a', u'a', u'b', u'd', u'a'};
  auto text = [](int k) { return "record " + std::to_string(k) + std::string(k * 13 % 300, 'x'); };
  std::atomic<int> encoding{kThreads};
  std::vector<WString> results(kThreads * kPerThread);
  test::RunThreads(kThreads + 1, [&](int t) {
    for (WString keyRecord; t == kThreads && encoding.load() != 0; keyRecord.clear()) {
      EXPECT_EQ(RC_OK, SetSessionKey(ProcessSession().key.data(), ProcessSession().key.size()));
      EXPECT_EQ(RC_OK, MakeKeyRecordText(keyRecord));
      EXPECT_EQ(366u, keyRecord.size());
    }
    for (int k = t * kPerThread; t < kThreads && k < (t + 1) * kPerThread; ++k) {
      LogRecord record;
      record.message = ToUtf16(text(k));
      record.protectionMode = modes[k % 6];
      EXPECT_EQ(RC_OK, EncodeMessageText(record));
      results[k] = std::move(record.message);
    }
    if (t < kThreads) encoding.fetch_sub(1);
  });
  for (int k = 0; k < kThreads * kPerThread; ++k) {
    ASSERT_EQ(forms[k % 6], results[k][0]) << "record " << k;
    EXPECT_EQ(modes[k % 6] == 0 ? text(k) : Payload(text(k)),
              modes[k % 6] == 0 ? ToUtf8(results[k]) : Read(results[k]));
  }
}

}  // namespace
}  // namespace zun
