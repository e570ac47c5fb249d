#include "protect/protected_text.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "base/lasting.h"
#include "base/spin_lock.h"
#include "platform/stream.h"
#include "protect/base64.h"
#include "protect/random_generator.h"
#include "protect/rsa_public_key.h"
#include "protect/scramble_table.h"
#include "protect/session_key.h"
#include "protect/text_payload.h"
#include "zunlogx/zunlogx.h"

namespace zun {

static_assert(kProtectNone == ZUN_PROTECT_NONE && kProtectScramble == ZUN_PROTECT_SCRAMBLE &&
              kProtectScramble2 == ZUN_PROTECT_SCRAMBLE2 && kProtectPublicKey == ZUN_PROTECT_PUBLIC_KEY &&
              kProtectSession == ZUN_PROTECT_SESSION);

namespace {

constexpr std::size_t kTagDigits = 20;
constexpr std::size_t kLengthDigits = 10;

// Guards the process's one RSA key (in AppendPublicKeyForm), which is made on
// first use and freed when the library is unloaded; held through all blocks of one text.
constinit SpinLock gRsaLock;

void AppendDecimal(WString& out, std::uint64_t value, std::size_t width) {
  char16_t digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (std::size_t i = n; i < width; ++i) out.push_back(u'0');
  while (n > 0) out.push_back(digits[--n]);
}

ResultCode MakeScrambledForm(WStringView text, WString& out) {
  const auto index = static_cast<std::uint8_t>(RandomByte() & 15);
  std::string bytes;
  bytes.push_back(static_cast<char>(index));
  ResultCode rc = MakeTextPayload(bytes, text);
  if (Failed(rc)) return rc;
  ScrambleBytes(reinterpret_cast<std::uint8_t*>(bytes.data()) + 1, bytes.size() - 1, ScrambleKeyAt(index));
  out.reserve(1 + Base64Length(bytes.size()));
  out.push_back(u'a');
  return AppendBase64(out, bytes.data(), bytes.size());
}

// "b" and base64 of a zero byte followed by the RSA blocks of the payload.
ResultCode AppendPublicKeyForm(const std::string& payload, WString& out) {
  static Lasting<RsaPublicKey> lastingKey;
  RsaPublicKey& key = *lastingKey;
  std::vector<std::uint8_t> blocks;
  {
    SpinLockGuard guard(gRsaLock);
    if (!key.HasKey()) {
      const ResultCode rc = key.SetKey(PublicKeyModulus(), kPublicKeyModulusSize);
      if (Failed(rc)) return rc;
    }
    const std::size_t blockSize = key.Size();
    const std::size_t chunkSize = blockSize - kRsaPaddingSize;
    const std::size_t chunks = (payload.size() + chunkSize - 1) / chunkSize;
    std::vector<std::uint8_t> block;
    blocks.reserve(1 + chunks * blockSize);
    blocks.push_back(0);
    const auto* p = reinterpret_cast<const std::uint8_t*>(payload.data());
    for (std::size_t at = 0; at < payload.size(); at += chunkSize) {
      const std::size_t length = std::min(chunkSize, payload.size() - at);
      const ResultCode rc = key.EncryptBlock(p + at, length, block);
      if (Failed(rc)) return rc;
      blocks.insert(blocks.end(), block.begin(), block.end());
    }
  }
  out.reserve(out.size() + 1 + Base64Length(blocks.size()));
  out.push_back(u'b');
  return AppendBase64(out, blocks.data(), blocks.size());
}

ResultCode MakePublicKeyForm(WStringView text, WString& out) {
  std::string payload;
  const ResultCode rc = MakeTextPayload(payload, text);
  if (Failed(rc)) return rc;
  return AppendPublicKeyForm(payload, out);
}

ResultCode MakeSessionForm(WStringView text, WString& out) {
  std::string payload;
  ResultCode rc = MakeTextPayload(payload, text);
  if (Failed(rc)) return rc;
  // The length field has ten digits and the memory stream 32-bit sizes.
  if (payload.size() > std::numeric_limits<std::uint32_t>::max() - 8) return RC_INVALID_PARAMETER;
  MemoryStream ciphertext;
  rc = EncryptWithSessionKey(payload, ciphertext);
  if (Failed(rc)) return rc;
  out.reserve(1 + kTagDigits + kLengthDigits + Base64Length(ciphertext.Size()));
  out.push_back(u'd');
  AppendDecimal(out, SessionTag(), kTagDigits);
  AppendDecimal(out, payload.size(), kLengthDigits);
  return AppendBase64(out, ciphertext.Data(), ciphertext.Size());
}

}  // namespace

ResultCode MakeProtectedText(ProtectionMode mode, WStringView text, WString& out, ProtectionMode* modeAfter) {
  try {
    out.clear();
    if (modeAfter != nullptr) *modeAfter = mode;
    if (mode == kProtectNone || text.empty()) {
      out.assign(text);
      return RC_OK;
    }
    switch (mode) {
      case kProtectPublicKey:
        return MakePublicKeyForm(text, out);
      case kProtectSession:
        return MakeSessionForm(text, out);
      default: {
        const ResultCode rc = MakeScrambledForm(text, out);
        if (Succeeded(rc) && mode != kProtectScramble2 && modeAfter != nullptr) *modeAfter = kProtectScramble;
        return rc;
      }
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return RC_OUT_OF_MEMORY;
  }
}

ResultCode MakeKeyRecordText(WString& out) {
  try {
    out.clear();
    out.push_back(u'c');
    AppendDecimal(out, SessionTag(), kTagDigits);
    WString keyText;
    ResultCode rc = AppendSessionKeyBase64(keyText);
    if (Failed(rc)) return rc;
    // The session key lock is released here, before the RSA lock is taken.
    return MakePublicKeyForm(keyText, out);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
