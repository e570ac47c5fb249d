#include "protect/session_key.h"

#include <cstring>
#include <new>

#include "base/spin_lock.h"
#include "protect/base64.h"
#include "protect/blowfish.h"
#include "protect/cipher_writer.h"
#include "protect/protected_text.h"
#include "protect/random_generator.h"

namespace zun {

namespace {

struct SessionKeyStore {
  SpinLock lock;
  std::uint8_t bytes[BlowfishCipher::kMaxKeySize] = {};  // guarded by lock
  std::uint32_t length = 0;                              // guarded by lock
};

constinit SessionKeyStore gSessionKey;

}  // namespace

std::uint64_t SessionTag() {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&EncryptWithSessionKey));
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
  BlowfishCipher cipher;
  SpinLockGuard guard(gSessionKey.lock);
  ResultCode rc = cipher.SetKey(gSessionKey.bytes, gSessionKey.length);
  if (Failed(rc)) return rc;
  CipherWriter writer(cipher, sink);
  rc = writer.Write(payload.data(), payload.size(), nullptr);
  if (Failed(rc)) return rc;
  return writer.Finish();
}

ResultCode CreateSessionKey(std::vector<std::uint8_t>& key) {
  try {
    key.resize(kSessionKeySize);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  FillRandom(key.data(), key.size());
  return SetSessionKey(key.data(), key.size());
}

}  // namespace zun
