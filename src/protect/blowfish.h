#pragma once
// The Blowfish block cipher (64-bit blocks, 16 rounds), encryption only, in
// the block layout of the "d" form: each 8-byte block is two 32-bit halves,
// left first, each half little-endian. That layout differs from the usual
// big-endian one and is part of the format. One object per caller; no lock.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/result_code.h"

namespace zun {

class BlowfishCipher {
 public:
  static constexpr std::size_t kBlockSize = 8;
  static constexpr std::size_t kMinKeySize = 4;
  static constexpr std::size_t kMaxKeySize = 56;

  BlowfishCipher();
  ~BlowfishCipher();
  BlowfishCipher(const BlowfishCipher&) = delete;
  BlowfishCipher& operator=(const BlowfishCipher&) = delete;

  // A key of 4 to 56 bytes, else RC_NOT_SUPPORTED; RC_OUT_OF_MEMORY when
  // the key schedule cannot be allocated.
  ResultCode SetKey(const std::uint8_t* key, std::size_t length);
  // ECB over whole blocks: `length` must be a multiple of 8, else
  // RC_INVALID_PARAMETER. `output` is resized to `length`. Without a key:
  // RC_NOT_INITIALISED.
  ResultCode EncryptBlocks(const std::uint8_t* input, std::size_t length,
                           std::vector<std::uint8_t>& output) const;
  // The last, partial block: `length` below 8, else RC_INVALID_PARAMETER.
  // 0 bytes give an empty `output`; otherwise the bytes padded with zeros
  // to one block, encrypted.
  ResultCode EncryptFinal(const std::uint8_t* input, std::size_t length,
                          std::vector<std::uint8_t>& output) const;

  std::size_t BlockSize() const { return kBlockSize; }
  bool CanProcessManyBlocks() const { return true; }

 private:
  struct Schedule;

  void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const;

  std::unique_ptr<Schedule> schedule_;
};

}  // namespace zun
