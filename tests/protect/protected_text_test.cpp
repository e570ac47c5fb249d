#include "protect/protected_text.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_info.h"
#include "protect/rsa_public_key.h"
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
    if (form == u'd') {  // "d", the tag, n in 10 digits, base64 of n bytes zero-padded to whole blocks
      const std::string header = ToUtf8(text.substr(1, 30));
      const bool wellFormed = header.size() == 30 &&
                              header.find_first_not_of("0123456789") == std::string::npos &&
                              header.starts_with(tag_);
      const std::size_t n = wellFormed ? std::stoul(header.substr(20)) : 0;
      const std::string cipher = n > 0 ? test::DecodeBase64(text.substr(31)).value_or("") : "";
      const std::string plain = test::BlowfishCrypt(sessionKey_, cipher, false);
      if (n > 0 && cipher.size() == (n + 7) / 8 * 8 &&
          plain.find_first_not_of('\0', n) == std::string::npos) {
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
  for (ProtectionMode mode : {0u, 1u, 2u, 3u, 4u, 7u}) {
    for (const WString& text :
         {WString(u"ok\xD800"), WString(u"\xDC00ok"), WString(u"\xD83D\x41\0z", 4), WString()}) {
      LogRecord record;
      record.message = text;
      record.protectionMode = mode;
      EXPECT_EQ(mode == 0 || text.empty() ? RC_OK : 0xE0010045u, EncodeMessageText(record))
          << "mode " << mode;
      EXPECT_EQ(text, record.message);
      EXPECT_EQ(mode, record.protectionMode);
    }
  }
}

TEST_F(ProtectedTextTest, ScrambledTextsUnscrambleWithTheTableAndFixTheMode) {
  const WString abc = Make(1, u"abc", 1);
  EXPECT_EQ(9u, abc.size()) << "a, then 8 characters for the index byte and 4 payload bytes";
  EXPECT_EQ(Payload("abc"), Read(abc));
  // Longer than one key, so the key restarts; several indexes get drawn.
  std::string longUtf8 = "a";
  for (int i = 0; i < 150; ++i) longUtf8 += "\xC3\xBC";
  for (int i = 0; i < 8; ++i) EXPECT_EQ(longUtf8, Read(Make(1, WString(150, u'\u00FC'), 1)));
  for (auto [mode, kept] : {std::pair{2u, 2u}, std::pair{5u, 1u}, std::pair{0xFFFFFFFFu, 1u}}) {
    EXPECT_EQ(Payload("secret"), Read(Make(mode, u"secret", kept)));
  }
}

TEST_F(ProtectedTextTest, PublicKeyTextsDecryptWithThePrivateKeyInWholeBlocks) {
  const WString oneBlock = Make(3, WString(244, u'q'), 3);  // 245 payload bytes
  EXPECT_EQ(345u, oneBlock.size());
  EXPECT_EQ(Payload(std::string(244, 'q')), Read(oneBlock));
  const WString twoBlocks = Make(3, WString(245, u'q'), 3);  // 246 payload bytes
  EXPECT_EQ(685u, twoBlocks.size());
  EXPECT_EQ(Payload(std::string(245, 'q')), Read(twoBlocks));
  EXPECT_EQ(Payload("\xE4\xB8\xAD\xF0\x9F\x98\x80 " + std::string(600, 'z')),
            Read(Make(3, WString(u"\u4E2D\U0001F600 ") + WString(600, u'z'), 3)));
}

TEST_F(ProtectedTextTest, SessionTextsCarryNAndTheKeyRecordsTagAndDecryptWithTheKeyItCarries) {
  const WString& line = ProcessSession().line;
  EXPECT_EQ(0u, line.find(u"[ZUN.LOG.SM] ALL "));
  EXPECT_NE(WString::npos, line.find(ToUtf16(" PID:" + std::to_string(CurrentProcessId()) + " THID:")));
  EXPECT_EQ(test::Bytes(ProcessSession().key.data(), ProcessSession().key.size()), sessionKey_);
  std::uint64_t tag = 0;
  ASSERT_EQ(RC_OK, SessionTag(tag));
  std::string digits = std::to_string(tag);
  EXPECT_EQ(digits.insert(0, 20 - digits.size(), '0'), tag_);
  // n counts the tag byte: 8 fills one block exactly, 9 needs a second.
  for (auto [text, n, size] :
       {std::tuple{u"abc", "4", 43u}, std::tuple{u"abcdefg", "8", 43u}, std::tuple{u"abcdefgh", "9", 55u}}) {
    const WString out = Make(4, text, 4);
    EXPECT_EQ(ToUtf16("d" + tag_ + "000000000" + n), out.substr(0, 31));
    EXPECT_EQ(size, out.size());
    EXPECT_EQ(Payload(ToUtf8(text)), Read(out));
  }
  EXPECT_EQ(RC_INVALID_PARAMETER, SetSessionKey(ProcessSession().key.data(), 57));
}

// Two children forked from one state draw different keys, which a generator
// copied by fork would not; a child without the kernel's random source gets
// no key at all, so no "d" text, rather than a weaker one.
TEST_F(ProtectedTextTest, ForkedChildrenDrawTheirOwnKeysAndNeverFallBackToAWeakerSource) {
  int keys[2];
  ASSERT_EQ(0, pipe(keys));
  for (const bool denied : {false, false, true}) {
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
      std::vector<std::uint8_t> key;
      WString text;
      if (!denied) _exit(CreateSessionKey(key) == RC_OK && write(keys[1], key.data(), 40) == 40 ? 0 : 1);
      if (!DenyKernelRandom()) _exit(2);
      _exit(SetSessionKey(nullptr, 0) == RC_OK && CreateSessionKey(key) == RC_NOT_SUPPORTED &&
                    MakeProtectedText(4, u"x", text, nullptr) == RC_NOT_SUPPORTED
                ? 0
                : 1);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    if (denied && status == 2 << 8) GTEST_SKIP() << "system calls cannot be filtered here";
    EXPECT_EQ(0, status) << (denied ? "without" : "with") << " the kernel's random source";
  }
  std::string drawn(80, '\0');
  ASSERT_EQ(80, read(keys[0], drawn.data(), drawn.size()));
  close(keys[0]);
  close(keys[1]);
  EXPECT_NE(drawn.substr(0, 40), drawn.substr(40));
  EXPECT_NE(sessionKey_, drawn.substr(0, 40));
}

// libcrypto's public-key encryption with a hold: the first whole 245-byte
// block, the long text's, waits inside libcrypto until the short texts are
// done (or, when they cannot finish meanwhile, for ten seconds).
std::atomic<bool> gHeld{false};
std::binary_semaphore gLongInside{0}, gShortsDone{0};
int (*gEncrypt)(int, const unsigned char*, unsigned char*, RSA*, int) = nullptr;

int EncryptHoldingTheLongText(int length, const unsigned char* from, unsigned char* to, RSA* rsa,
                              int padding) {
  if (length == 245 && !gHeld.exchange(true)) {
    gLongInside.release();
    gShortsDone.try_acquire_for(std::chrono::seconds(10));
  }
  return gEncrypt(length, from, to, rsa, padding);
}

// A long public-key text does not hold up short ones: they complete while it
// is still being encrypted.
TEST(PublicKeyForm, ShortTextsCompleteWhileALongOneIsEncrypted) {
  RSA_METHOD* held = RSA_meth_dup(RSA_PKCS1_OpenSSL());
  ASSERT_NE(nullptr, held);
  gEncrypt = RSA_meth_get_pub_enc(held);
  RSA_meth_set_pub_enc(held, EncryptHoldingTheLongText);
  RSA_set_default_method(held);
  gHeld.store(false);
  std::atomic<bool> longDone{false};
  std::thread longer([&] {
    WString out;
    EXPECT_EQ(RC_OK, MakeProtectedText(3, WString(1000, u'L'), out, nullptr));
    longDone.store(true);
  });
  EXPECT_TRUE(gLongInside.try_acquire_for(std::chrono::seconds(10)));
  constexpr int kShort = 3;
  int completed = 0;
  for (; completed < kShort; ++completed) {
    WString out;
    EXPECT_EQ(RC_OK, MakeProtectedText(3, u"short", out, nullptr));
    if (longDone.load()) break;
  }
  gShortsDone.release();
  longer.join();
  RSA_set_default_method(RSA_PKCS1_OpenSSL());
  RSA_meth_free(held);
  EXPECT_EQ(kShort, completed);
  EXPECT_TRUE(longDone.load());
}

TEST(RsaPublicKey, RefusesMissingKeysAndOverlongBlocks) {
  RsaPublicKey key;
  std::vector<std::uint8_t> out;
  const std::uint8_t bytes[246] = {};
  EXPECT_EQ(RC_NOT_INITIALISED, key.EncryptBlock(bytes, 1, out));
  EXPECT_EQ(RC_INVALID_PARAMETER, key.SetKey(PublicKeyModulus(), 0));
  ASSERT_EQ(RC_OK, key.SetKey(PublicKeyModulus(), kPublicKeyModulusSize));
  EXPECT_EQ(RC_INVALID_PARAMETER, key.EncryptBlock(bytes, 246, out));
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
