#pragma once
// The fixed table of scrambling keys behind the "a" form: 16 keys of 64
// bytes. Scrambling only hides a text from a casual reader.
#include <cstddef>
#include <cstdint>

namespace zun {

inline constexpr std::size_t kScrambleKeyCount = 16;
inline constexpr std::size_t kScrambleKeySize = 64;

struct ScrambleKey {
  const std::uint8_t* data;
  std::uint32_t length;
};

// Key `index` (0 to 15) of the table.
const ScrambleKey& ScrambleKeyAt(std::size_t index);

// XORs byte j of `bytes` with byte (j mod key.length) of the key, in place.
// Applying it twice gives the bytes back.
void ScrambleBytes(std::uint8_t* bytes, std::size_t count, const ScrambleKey& key);

}  // namespace zun
