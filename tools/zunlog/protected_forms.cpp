#include "protected_forms.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "unicode.h"

namespace zunlog {

namespace {

// The library's scrambling table: 16 keys of 64 bytes.
constexpr std::size_t kScrambleKeySize = 64;
constexpr std::uint8_t kScrambleTable[16 * kScrambleKeySize] = {
#include "scramble_table.inc"
};

constexpr std::size_t kTagDigits = 20;
constexpr std::size_t kLengthDigits = 10;
constexpr std::size_t kBlowfishBlock = 8;
constexpr char kPayloadTag = 'a';

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with "=" padding and nothing else; nothing when damaged.
std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const int value = Base64Value(text[i]);
    if (value < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (i % 4 == 3) {
      out.push_back(static_cast<char>(bits >> 16));
      out.push_back(static_cast<char>(bits >> 8));
      out.push_back(static_cast<char>(bits));
      bits = 0;
    }
  }
  if (padding == 2) out.push_back(static_cast<char>(bits >> 4));
  if (padding == 1) {
    out.push_back(static_cast<char>(bits >> 10));
    out.push_back(static_cast<char>(bits >> 2));
  }
  return out;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number that fits 64 bits.
std::optional<std::uint64_t> ParseDecimal(std::string_view digits) {
  std::uint64_t value = 0;
  for (const char c : digits) {
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// The text a payload carries: its tag byte, then UTF-8.
std::optional<std::string> PayloadText(std::string_view payload) {
  if (payload.empty() || payload[0] != kPayloadTag || !IsValidUtf8(payload.substr(1))) return std::nullopt;
  return std::string(payload.substr(1));
}

// The session cipher's blocks are two 32-bit halves, each little-endian;
// libcrypto's Blowfish takes the halves as numbers.
std::string BlowfishDecrypt(const BF_KEY& schedule, std::string data) {
  auto* p = reinterpret_cast<unsigned char*>(data.data());
  for (std::size_t at = 0; at + kBlowfishBlock <= data.size(); at += kBlowfishBlock) {
    BF_LONG halves[2] = {0, 0};
    for (std::size_t i = 0; i < kBlowfishBlock; ++i)
      halves[i / 4] |= static_cast<BF_LONG>(p[at + i]) << (8 * (i % 4));
    BF_decrypt(halves, &schedule);
    for (std::size_t i = 0; i < kBlowfishBlock; ++i)
      p[at + i] = static_cast<unsigned char>(halves[i / 4] >> (8 * (i % 4)));
  }
  return data;
}

std::string OpenSslError(const char* what) {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return error != 0 ? std::string(what) + " (" + text + ")" : std::string(what);
}

}  // namespace

ProtectedForms::~ProtectedForms() {
  EVP_PKEY_CTX_free(decrypt_);
  EVP_PKEY_free(key_);
}

std::string ProtectedForms::LoadPrivateKey(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::strerror(errno);
  key_ = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key_ == nullptr) return OpenSslError("no private key in PEM form");
  if (EVP_PKEY_get_base_id(key_) != EVP_PKEY_RSA) return "not an RSA key";
  decrypt_ = EVP_PKEY_CTX_new(key_, nullptr);
  if (decrypt_ == nullptr || EVP_PKEY_decrypt_init(decrypt_) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(decrypt_, RSA_PKCS1_PADDING) <= 0) {
    return OpenSslError("cannot decrypt with this key");
  }
  // A damaged block must fail, not decrypt to random bytes (libcrypto 3.2
  // and later would otherwise; older ones do not know the setting).
  EVP_PKEY_CTX_ctrl_str(decrypt_, "rsa_pkcs1_implicit_rejection", "0");
  ERR_clear_error();
  return {};
}

std::optional<std::string> ProtectedForms::RsaDecrypt(std::string_view blocks) const {
  const auto size = static_cast<std::size_t>(EVP_PKEY_get_size(key_));
  if (blocks.empty() || blocks.size() % size != 0) return std::nullopt;
  std::string out, plain(size, '\0');
  for (std::size_t at = 0; at < blocks.size(); at += size) {
    std::size_t n = plain.size();
    if (EVP_PKEY_decrypt(decrypt_, reinterpret_cast<unsigned char*>(plain.data()), &n,
                         reinterpret_cast<const unsigned char*>(blocks.data() + at), size) <= 0) {
      ERR_clear_error();
      return std::nullopt;
    }
    out.append(plain, 0, n);
  }
  return out;
}

ProtectedForms::Result ProtectedForms::DecodeScrambled(std::string_view text, std::string* out) const {
  std::optional<std::string> bytes = DecodeBase64(text.substr(1));
  // A key index byte above 15 is no scrambled text but a plain word.
  if (!bytes || bytes->size() < 2 || static_cast<std::uint8_t>((*bytes)[0]) >= 16) return Result::kNotAForm;
  const std::uint8_t* key = kScrambleTable + static_cast<std::uint8_t>((*bytes)[0]) * kScrambleKeySize;
  for (std::size_t j = 1; j < bytes->size(); ++j)
    (*bytes)[j] ^= static_cast<char>(key[(j - 1) % kScrambleKeySize]);
  std::optional<std::string> plain = PayloadText(std::string_view(*bytes).substr(1));
  if (!plain) {
    *out = "scrambled text that does not unscramble";
    return Result::kUnreadable;
  }
  *out = std::move(*plain);
  return Result::kDecoded;
}

ProtectedForms::Result ProtectedForms::DecodePublicKey(std::string_view text, std::string* out) const {
  // "b", then base64 of a zero byte and at least one 256-byte block: the
  // zero byte makes the first two characters "A" and one of "A" to "P".
  const std::size_t shortest = 1 + 4 * ((1 + 256 + 2) / 3);
  if (text.size() < shortest || text[1] != 'A' || text[2] < 'A' || text[2] > 'P') return Result::kNotAForm;
  const std::optional<std::string> bytes = DecodeBase64(text.substr(1));
  if (!bytes) {
    *out = "public-key text with damaged base64";
    return Result::kUnreadable;
  }
  const std::optional<std::string> payload = RsaDecrypt(std::string_view(*bytes).substr(1));
  std::optional<std::string> plain = payload ? PayloadText(*payload) : std::nullopt;
  if (!plain) {
    *out = "public-key text that this key does not decrypt";
    return Result::kUnreadable;
  }
  *out = std::move(*plain);
  return Result::kDecoded;
}

ProtectedForms::Result ProtectedForms::DecodeSession(std::string_view text, std::uint32_t pid,
                                                     std::string* out) const {
  const std::size_t head = 1 + kTagDigits + kLengthDigits;
  if (text.size() < head || !AllDigits(text.substr(1, kTagDigits + kLengthDigits))) return Result::kNotAForm;
  const std::optional<std::uint64_t> tag = ParseDecimal(text.substr(1, kTagDigits));
  const std::uint64_t length = *ParseDecimal(text.substr(1 + kTagDigits, kLengthDigits));
  const std::optional<std::string> cipher = DecodeBase64(text.substr(head));
  const auto session = tag ? sessions_.find(*tag) : sessions_.end();
  if (!cipher || length == 0 ||
      cipher->size() != (length + kBlowfishBlock - 1) / kBlowfishBlock * kBlowfishBlock) {
    *out = "session text whose length or base64 is damaged";
    return Result::kUnreadable;
  }
  if (session == sessions_.end()) {
    *out = "no key record of session " + std::string(text.substr(1, kTagDigits));
    return Result::kUnreadable;
  }
  // The key of the same process first; a tag alone may recur.
  std::vector<const SessionKey*> keys;
  for (const SessionKey& key : session->second) keys.insert(key.pid == pid ? keys.begin() : keys.end(), &key);
  for (const SessionKey* key : keys) {
    const std::string plain = BlowfishDecrypt(key->schedule, *cipher);
    const std::string_view padding = std::string_view(plain).substr(length);
    std::optional<std::string> decoded = PayloadText(std::string_view(plain).substr(0, length));
    if (decoded && std::all_of(padding.begin(), padding.end(), [](char c) { return c == 0; })) {
      *out = std::move(*decoded);
      return Result::kDecoded;
    }
  }
  *out =
      "session text that the key of session " + std::string(text.substr(1, kTagDigits)) + " does not decrypt";
  return Result::kUnreadable;
}

ProtectedForms::Result ProtectedForms::Decode(std::string_view text, std::uint32_t pid, bool scrambledToo,
                                              std::string* out) const {
  if (text.size() < 2) return Result::kNotAForm;
  switch (text[0]) {
    case 'a':
      return scrambledToo ? DecodeScrambled(text, out) : Result::kNotAForm;
    case 'b':
      return DecodePublicKey(text, out);
    case 'd':
      return DecodeSession(text, pid, out);
    default:
      return Result::kNotAForm;
  }
}

std::string ProtectedForms::AddKeyRecord(std::string_view message, std::uint32_t pid) {
  if (const auto known = keyRecords_.find(message); known != keyRecords_.end()) return known->second;
  std::string outcome, keyText;
  std::optional<std::uint64_t> tag;
  if (message.size() <= 1 + kTagDigits || message[0] != 'c' || !AllDigits(message.substr(1, kTagDigits)) ||
      !(tag = ParseDecimal(message.substr(1, kTagDigits)))) {
    outcome = "key record without a session tag";
  } else if (DecodePublicKey(message.substr(1 + kTagDigits), &keyText) != Result::kDecoded) {
    outcome = "key record that this key does not decrypt";
  } else if (const std::optional<std::string> key = DecodeBase64(keyText);
             !key || key->size() < 4 || key->size() > 56) {
    outcome = "key record without a session key";
  } else {
    std::vector<SessionKey>& keys = sessions_[*tag];
    if (std::none_of(keys.begin(), keys.end(), [&](const SessionKey& k) { return k.bytes == *key; })) {
      SessionKey entry{pid, *key, {}};
      BF_set_key(&entry.schedule, static_cast<int>(key->size()),
                 reinterpret_cast<const unsigned char*>(key->data()));
      keys.push_back(std::move(entry));
    }
  }
  keyRecords_.emplace(message, outcome);
  return outcome;
}

}  // namespace zunlog
