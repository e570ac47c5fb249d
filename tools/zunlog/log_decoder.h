#pragma once
// Log lines with their protected message texts read back. Key records may
// stand after the texts they unlock, or in another file, so every line of
// every input goes through CollectKey before any goes through DecodeLine.
// One object per reader; no lock.
#include <string>
#include <string_view>

#include "protected_forms.h"

namespace zunlog {

class LogDecoder {
 public:
  // Reads the RSA private key from a PEM file; empty, or why not.
  std::string LoadPrivateKey(const std::string& path) { return forms_.LoadPrivateKey(path); }

  // Keeps the session key of a key record; other lines are passed over.
  void CollectKey(std::string_view line);

  // The line with its protected texts read back in `out`, or false and the
  // non-empty reason it cannot be in `reason`.
  bool DecodeLine(std::string_view line, std::string* out, std::string* reason);

 private:
  ProtectedForms forms_;
};

}  // namespace zunlog
