#include "protect/session_key.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/spin_lock.h"
#include "platform/random_sources.h"
#include "protect/base64.h"
#include "protect/blowfish.h"
#include "protect/cipher_writer.h"

namespace zun {

namespace {

struct SessionKeyStore {
  SpinLock lock;
  std::uint8_t bytes[BlowfishCipher::kMaxKeySize] = {};  // guarded by lock
  std::uint32_t length = 0;                              // guarded by lock
};

constinit SessionKeyStore gSessionKey;
// 0 until the first caller draws it; never changes afterwards.
constinit std::atomic<std::uint64_t> gSessionTag{0};

}  // namespace

ResultCode SessionTag(std::uint64_t& tag) {
  std::uint64_t current = gSessionTag.load(std::memory_order_acquire);
  while (current == 0) {
    std::uint64_t drawn = 0;
    const ResultCode rc = ReadKernelRandom(&drawn, sizeof(drawn));
    if (Failed(rc)) return rc;
    // The first thread to store its draw wins; a loser reads the winner's.
    if (drawn != 0 && gSessionTag.compare_exchange_strong(current, drawn, std::memory_order_acq_rel)) {
      current = drawn;
    }
  }
  tag = current;
  return RC_OK;
}

ResultCode SetSessionKey(const std::uint8_t* key, std::size_t length) {
  if (length > sizeof(gSessionKey.bytes)) return RC_INVALID_PARAMETER;
  SpinLockGuard guard(gSessionKey.lock);
  if (length > 0) std::memcpy(gSessionKey.bytes, key, length);
  gSessionKey.length = static_cast<std::uint32_t>(length);
  return RC_OK;
}

ResultCode AppendSessionKeyBase64(WString& out) {
  SpinLockGuard guard(gSessionKey.lock);
  return AppendBase64(out, gSessionKey.bytes, gSessionKey.length);
}

ResultCode EncryptWithSessionKey(const std::string& payload, Stream& sink) {
  std::uint8_t key[sizeof(gSessionKey.bytes)];
  std::uint32_t length = 0;
  {
    SpinLockGuard guard(gSessionKey.lock);
    length = gSessionKey.length;
    std::memcpy(key, gSessionKey.bytes, length);
  }
  BlowfishCipher cipher;
  ResultCode rc = cipher.SetKey(key, length);
  if (Failed(rc)) return rc;
  CipherWriter writer(cipher, sink);
  rc = writer.Write(payload.data(), payload.size(), nullptr);
  if (Failed(rc)) return rc;
  return writer.Finish();
}

ResultCode CreateSessionKey(std::vector<std::uint8_t>& key) {
  std::uint8_t fresh[kSessionKeySize];
  const ResultCode rc = ReadKernelRandom(fresh, sizeof(fresh));
  if (Failed(rc)) return rc;
  try {
    key.assign(fresh, fresh + sizeof(fresh));
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  return SetSessionKey(fresh, sizeof(fresh));
}

}  // namespace zun
