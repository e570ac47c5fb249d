#pragma once
// The protected forms of a record's message text. Each is a UTF-16 text that
// starts with one letter:
//   "a" scrambled: base64 of a key index byte and the payload XOR-ed with
//       that key of the scrambling table;
//   "b" public-key: base64 of a zero byte and the payload in RSA blocks;
//   "c" key record: the session tag and the "b" form of the session key;
//   "d" session cipher: the session tag, the payload length and base64 of
//       the payload encrypted with the session key.
// All of them may be made from any thread at the same time.
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

using ProtectionMode = std::uint32_t;
inline constexpr ProtectionMode kProtectNone = 0;
inline constexpr ProtectionMode kProtectScramble = 1;
inline constexpr ProtectionMode kProtectScramble2 = 2;
inline constexpr ProtectionMode kProtectPublicKey = 3;
inline constexpr ProtectionMode kProtectSession = 4;

// The form that `mode` selects for `text`, in `out` (replaced); `*modeAfter`
// is the mode a record keeps: 1 for the values that have no form of their
// own, else `mode`. Mode 0 and an empty text give the text itself. A lone
// surrogate: RC_INVALID_DATA; no memory: RC_OUT_OF_MEMORY; RSA:
// RC_RSA_FAILED; mode 4 without a session key: RC_NOT_SUPPORTED, without a
// session tag: the code of SessionTag. On failure `out` holds nothing useful.
ResultCode MakeProtectedText(ProtectionMode mode, WStringView text, WString& out, ProtectionMode* modeAfter);

// The "c" text of the current session key: "c", the 20-digit session tag,
// then the "b" form of the key's base64 text (366 characters in all).
ResultCode MakeKeyRecordText(WString& out);

}  // namespace zun
