#pragma once
// The process-wide session key of the "d" form and the key record that
// carries it, RSA-wrapped, into the log files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"
#include "platform/stream.h"

namespace zun {

inline constexpr std::size_t kSessionKeySize = 40;

// One number per loaded instance of the library, written in the key record
// and in every "d" text of that instance: 64 bits of the kernel's random
// source, drawn by the first caller and constant while the library stays
// loaded (a forked child keeps it, as it keeps the session key). Any
// thread; no lock. Failure: the code of ReadKernelRandom, and no tag yet.
ResultCode SessionTag(std::uint64_t& tag);

// Replaces the process-wide session key (up to 56 bytes, else
// RC_INVALID_PARAMETER), under its lock. Until a key is set its length is 0.
ResultCode SetSessionKey(const std::uint8_t* key, std::size_t length);

// Appends the base64 form of the session key (56 characters for 40 bytes),
// made under the session key lock.
ResultCode AppendSessionKeyBase64(WString& out);

// The session-cipher routine: `payload` encrypted with Blowfish (ECB, zero
// padding of the last block) under the session key, written to `sink`.
// Holds the session key lock only to copy the key, so long texts do not keep
// other callers waiting. A key length outside 4 to 56 bytes (no key made
// yet): RC_NOT_SUPPORTED.
ResultCode EncryptWithSessionKey(const std::string& payload, Stream& sink);

// Called once by the log system while it starts: fills `key` with 40 bytes
// of the kernel's random source and makes them the process-wide session key.
// When the kernel refuses, its code is returned and nothing changes: a
// session key is never made from anything weaker.
ResultCode CreateSessionKey(std::vector<std::uint8_t>& key);

}  // namespace zun
