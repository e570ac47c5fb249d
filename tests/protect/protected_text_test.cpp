#include "protect/protected_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "core/log_record.h"
#include "platform/process_info.h"
#include "protect/session_key.h"
#include "protect_test_support.h"

namespace zun {
namespace {

constexpr std::uint8_t kScrambleTable[16 * 64] = {
#include "protect/scramble_table.inc"
};

// The log system's side: one session key and key record line per process.
struct Session {
  std::vector<std::uint8_t> key;
  WString keyRecordLine;
};

const Session& ProcessSession() {
  static const Session session = [] {
    Session s;
    EXPECT_EQ(RC_OK, CreateSessionKey(s.key, s.keyRecordLine));
    return s;
  }();
  return session;
}

std::string Payload(std::string_view utf8) { return "a" + std::string(utf8); }

class ProtectedTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with another public key";
    privateKey_ = test::LoadDevelopmentPrivateKey();
    ASSERT_TRUE(privateKey_);
    ASSERT_EQ(kSessionKeySize, ProcessSession().key.size());
    sessionKey_ = test::Bytes(ProcessSession().key.data(), kSessionKeySize);
  }

  WString Make(ProtectionMode mode, WStringView text, ProtectionMode expectedModeAfter) {
    WString out;
    ProtectionMode after = 12345;
    EXPECT_EQ(RC_OK, MakeProtectedText(mode, text, out, &after));
    EXPECT_EQ(expectedModeAfter, after) << "mode " << mode;
    return out;
  }

  // What a reader holding the private key and the table recovers from a
  // protected text: the payload, or "" after a reported failure.
  std::string Read(WStringView text) {
    bool ok = false;
    const char16_t form = text.empty() ? 0 : text[0];
    if (form == u'a') {
      std::string bytes = test::DecodeBase64(text.substr(1), &ok);
      if (!ok || bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) > 15)
        return Fail("malformed a text");
      const std::uint8_t* key = kScrambleTable + 64 * static_cast<unsigned char>(bytes[0]);
      for (std::size_t j = 1; j < bytes.size(); ++j)
        bytes[j] = static_cast<char>(bytes[j] ^ key[(j - 1) % 64]);
      return bytes.substr(1);
    }
    if (form == u'b') {
      const std::string bytes = test::DecodeBase64(text.substr(1), &ok);
      if (!ok || bytes[0] != 0) return Fail("malformed b text");
      std::string payload = test::RsaDecryptBlocks(privateKey_.get(), std::string_view(bytes).substr(1), &ok);
      return ok ? payload : Fail("b text does not decrypt");
    }
    if (form == u'd') {
      const std::string digits = text.size() > 31 ? test::Ascii(text.substr(1, 30)) : "";
      if (digits.size() != 30 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return Fail("malformed d header");
      }
      const std::size_t n = std::stoul(digits.substr(20));
      const std::string cipher = test::DecodeBase64(text.substr(31), &ok);
      if (!ok || cipher.size() != (n + 7) / 8 * 8) return Fail("d text of the wrong size for its n");
      const std::string plain = test::BlowfishCrypt(sessionKey_, cipher, false);
      if (plain.find_first_not_of('\0', n) != std::string::npos) return Fail("padding is not zero");
      return plain.substr(0, n);
    }
    return Fail("unknown form");
  }
  std::string Fail(const char* what) {
    ADD_FAILURE() << what;
    return {};
  }

  test::RsaPtr privateKey_;
  std::string sessionKey_;
};

TEST_F(ProtectedTextTest, PlainModeAndEmptyTextsPassThroughByteForByte) {
  const WString odd = WString(u"x\xD800y\xDC00") + u'\0' + u"z";
  LogRecord record;
  record.message = odd;
  EXPECT_EQ(RC_OK, EncodeMessageText(record));
  EXPECT_EQ(odd, record.message);

  for (ProtectionMode mode : {1u, 3u, 4u, 7u}) {
    record.message.clear();
    record.protectionMode = mode;
    EXPECT_EQ(RC_OK, EncodeMessageText(record));
    EXPECT_EQ(u"", record.message);
    EXPECT_EQ(mode, record.protectionMode);
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

  for (auto [mode, kept] :
       {std::pair{2u, 2u}, std::pair{5u, 1u}, std::pair{7u, 1u}, std::pair{0xFFFFFFFFu, 1u}}) {
    LogRecord record;
    record.message = u"secret";
    record.protectionMode = mode;
    ASSERT_EQ(RC_OK, EncodeMessageText(record));
    EXPECT_EQ(kept, record.protectionMode);
    EXPECT_EQ(u'a', record.message[0]);
    EXPECT_EQ(Payload("secret"), Read(record.message));
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

TEST_F(ProtectedTextTest, SessionTextsCarryTheLengthAndTheKeyRecordsTag) {
  const WString& line = ProcessSession().keyRecordLine;
  const std::size_t msg = line.find(u" MSG:c");
  ASSERT_NE(WString::npos, msg);
  const WString tag = line.substr(msg + 6, 20);
  std::string digits = std::to_string(SessionTag());
  EXPECT_EQ(digits.insert(0, 20 - digits.size(), '0'), test::Ascii(tag));

  const WString abc = Make(4, u"abc", 4);
  EXPECT_EQ(u'd' + tag + u"0000000004", abc.substr(0, 31));
  EXPECT_EQ(31u + 12u, abc.size());
  EXPECT_EQ(Payload("abc"), Read(abc));
  const WString seven = Make(4, u"abcdefg", 4);  // n = 8: one block, no padding block
  EXPECT_EQ(u'd' + tag + u"0000000008", seven.substr(0, 31));
  EXPECT_EQ(31u + 12u, seven.size());
  EXPECT_EQ(Payload("abcdefg"), Read(seven));
  const WString eight = Make(4, u"abcdefgh", 4);  // n = 9: two blocks
  EXPECT_EQ(31u + 24u, eight.size());
  EXPECT_EQ(Payload("abcdefgh"), Read(eight));
}

TEST_F(ProtectedTextTest, InvalidUtf16FailsInEveryProtectingModeAndChangesNothing) {
  for (ProtectionMode mode : {1u, 2u, 3u, 4u, 7u}) {
    for (const WString& bad : {WString(u"ok\xD800"), WString(u"\xDC00ok"), WString(u"\xD83D\x0041")}) {
      LogRecord record;
      record.message = bad;
      record.protectionMode = mode;
      EXPECT_EQ(RC_INVALID_DATA, EncodeMessageText(record)) << "mode " << mode;
      EXPECT_EQ(bad, record.message);
      EXPECT_EQ(mode, record.protectionMode);
    }
  }
}

TEST_F(ProtectedTextTest, SessionTextsNeedASessionKeyOfFourTo56Bytes) {
  const std::vector<std::uint8_t>& key = ProcessSession().key;
  LogRecord record;
  record.message = u"before the log system";
  record.protectionMode = 4;
  ASSERT_EQ(RC_OK, SetSessionKey(nullptr, 0));
  EXPECT_EQ(RC_NOT_SUPPORTED, EncodeMessageText(record));
  ASSERT_EQ(RC_OK, SetSessionKey(key.data(), 3));
  EXPECT_EQ(RC_NOT_SUPPORTED, EncodeMessageText(record));
  EXPECT_EQ(u"before the log system", record.message);
  EXPECT_EQ(RC_INVALID_PARAMETER, SetSessionKey(key.data(), 57));

  ASSERT_EQ(RC_OK, SetSessionKey(key.data(), key.size()));
  ASSERT_EQ(RC_OK, EncodeMessageText(record));
  EXPECT_EQ(Payload("before the log system"), Read(record.message));
}

TEST_F(ProtectedTextTest, KeyRecordLineCarriesTheSessionKeyForThePrivateKeyHolder) {
  const WString& line = ProcessSession().keyRecordLine;
  EXPECT_EQ(0u, line.find(u"[ZUN.LOG.SM] ALL "));
  EXPECT_NE(WString::npos, line.find(ToUtf16(" PID:" + std::to_string(CurrentProcessId()) + " THID:")));
  const WString marker = u" ID:ZUN.LOG.SM:0.0.0.0 MSG:";
  const std::size_t msg = line.find(marker);
  ASSERT_NE(WString::npos, msg);

  const WString record = line.substr(msg + marker.size());
  ASSERT_EQ(366u, record.size());
  EXPECT_EQ(u'c', record[0]);
  const std::string payload = Read(WStringView(record).substr(21));
  ASSERT_EQ(57u, payload.size()) << "tag byte and 56 base64 characters";
  bool ok = false;
  EXPECT_EQ(sessionKey_, test::DecodeBase64(ToUtf16(payload.substr(1)), &ok));
}

// Many threads encode in every mode at once, sharing the generator, the
// session key and the RSA key, while one more keeps storing the same session
// key and building key records. Each text must decode to its own payload;
// under ThreadSanitizer any access a lock does not order shows.
TEST_F(ProtectedTextTest, ConcurrentEncodingInAllModesGivesOnlyWellFormedTexts) {
  constexpr int kThreads = 8, kPerThread = 30;
  const ProtectionMode modes[] = {0, 1, 2, 3, 4, 9};
  auto text = [](int t, int i) {
    return "thread " + std::to_string(t) + " record " + std::to_string(i) + std::string(i * 13 % 300, 'x');
  };
  std::barrier start(kThreads + 1);
  std::atomic<bool> done{false};
  std::vector<std::vector<LogRecord>> results(kThreads);
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    const std::vector<std::uint8_t>& key = ProcessSession().key;
    start.arrive_and_wait();
    while (!done.load()) {
      EXPECT_EQ(RC_OK, SetSessionKey(key.data(), key.size()));
      WString keyRecord;
      EXPECT_EQ(RC_OK, MakeKeyRecordText(keyRecord));
      EXPECT_EQ(366u, keyRecord.size());
    }
  });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kPerThread; ++i) {
        LogRecord record;
        record.message = ToUtf16(text(t, i));
        record.protectionMode = modes[(t + i) % 6];
        EXPECT_EQ(RC_OK, EncodeMessageText(record));
        results[t].push_back(std::move(record));
      }
    });
  }
  for (std::size_t j = 1; j < threads.size(); ++j) threads[j].join();
  done.store(true);
  threads[0].join();

  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      const WString& message = results[t][i].message;
      const ProtectionMode mode = modes[(t + i) % 6];
      if (mode == 0) {
        EXPECT_EQ(ToUtf16(text(t, i)), message);
      } else {
        EXPECT_EQ(mode == 3 ? u'b' : mode == 4 ? u'd' : u'a', message[0]);
        EXPECT_EQ(Payload(text(t, i)), Read(message)) << "thread " << t << " record " << i;
      }
    }
  }
}

}  // namespace
}  // namespace zun
