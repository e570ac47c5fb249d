#pragma once
// Feeds bytes through a block cipher into a stream: whole blocks are
// encrypted and written as soon as they are complete, the last partial
// block when the writer is finished. Used by one caller; no lock.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result_code.h"
#include "platform/stream.h"
#include "protect/blowfish.h"

namespace zun {

class CipherWriter {
 public:
  // Both must outlive the writer; the cipher must be keyed.
  CipherWriter(const BlowfishCipher& cipher, Stream& sink) : cipher_(cipher), sink_(sink) {}
  CipherWriter(const CipherWriter&) = delete;
  CipherWriter& operator=(const CipherWriter&) = delete;

  // Takes all `count` bytes (reported in `*written`, which may be null) and
  // writes the ciphertext of every whole block buffered so far. A failure
  // of the cipher or the sink is returned; ciphertext the sink did not take
  // stays pending for the next call. After Finish: RC_INVALID_OPERATION.
  ResultCode Write(const void* bytes, std::size_t count, std::size_t* written);
  // Writes pending ciphertext, then the 0 to 7 bytes left, padded with zeros
  // to one block; then the sink holds the whole ciphertext.
  ResultCode Finish();
  bool Finished() const { return finished_; }

 private:
  ResultCode FlushOutput();

  const BlowfishCipher& cipher_;
  Stream& sink_;
  std::vector<std::uint8_t> input_;   // plaintext not yet encrypted, under one block after each Write
  std::vector<std::uint8_t> output_;  // ciphertext not yet taken by the sink
  std::vector<std::uint8_t> blocks_;  // ciphertext of one EncryptBlocks call
  bool finished_ = false;
};

}  // namespace zun
