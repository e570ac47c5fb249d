#pragma once
// Reading protected message texts back, for the holder of the private key:
// "a" scrambled with the library's scrambling table, "b" encrypted for the
// public key, "d" encrypted under a session key that the "c" key record of
// the same session carries. One object per reader; no lock.
#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zunlog {

class ProtectedForms {
 public:
  enum class Result { kNotAForm, kDecoded, kUnreadable };

  ProtectedForms() = default;
  ~ProtectedForms();
  ProtectedForms(const ProtectedForms&) = delete;
  ProtectedForms& operator=(const ProtectedForms&) = delete;

  // Reads the RSA private key from a PEM file; empty, or why not.
  std::string LoadPrivateKey(const std::string& path);

  // A key record's message ("c", the session tag, the session key in the
  // "b" form), logged by process `pid`: its key is kept for the "d" texts
  // of that tag. Empty, or why the record cannot be read.
  std::string AddKeyRecord(std::string_view message, std::uint32_t pid);

  // A whole message text: kDecoded and the plain text in `out`, kUnreadable
  // and the reason in `out`, or kNotAForm when the text is none of the forms
  // (a plain text). The "a" form is recognised only when `scrambledToo`,
  // since its shape alone does not set it apart from a plain word.
  Result Decode(std::string_view text, std::uint32_t pid, bool scrambledToo, std::string* out) const;

 private:
  struct SessionKey {
    std::uint32_t pid;
    std::string bytes;
    BF_KEY schedule;
  };

  Result DecodeScrambled(std::string_view text, std::string* out) const;
  Result DecodePublicKey(std::string_view text, std::string* out) const;
  Result DecodeSession(std::string_view text, std::uint32_t pid, std::string* out) const;
  std::optional<std::string> RsaDecrypt(std::string_view blocks) const;

  EVP_PKEY* key_ = nullptr;
  EVP_PKEY_CTX* decrypt_ = nullptr;
  std::map<std::uint64_t, std::vector<SessionKey>> sessions_;
  std::map<std::string, std::string, std::less<>> keyRecords_;  // message -> outcome of AddKeyRecord
};

}  // namespace zunlog
