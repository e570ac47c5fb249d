#include "protect/scramble_table.h"

namespace zun {

namespace {

constexpr std::uint8_t kKeyBytes[kScrambleKeyCount * kScrambleKeySize] = {
#include "protect/scramble_table.inc"
};

constexpr ScrambleKey MakeKey(std::size_t index) {
  return ScrambleKey{kKeyBytes + index * kScrambleKeySize, static_cast<std::uint32_t>(kScrambleKeySize)};
}

constexpr ScrambleKey kTable[kScrambleKeyCount] = {
    MakeKey(0), MakeKey(1), MakeKey(2),  MakeKey(3),  MakeKey(4),  MakeKey(5),  MakeKey(6),  MakeKey(7),
    MakeKey(8), MakeKey(9), MakeKey(10), MakeKey(11), MakeKey(12), MakeKey(13), MakeKey(14), MakeKey(15)};

}  // namespace

const ScrambleKey& ScrambleKeyAt(std::size_t index) { return kTable[index % kScrambleKeyCount]; }

void ScrambleBytes(std::uint8_t* bytes, std::size_t count, const ScrambleKey& key) {
  std::size_t k = 0;
  for (std::size_t j = 0; j < count; ++j) {
    bytes[j] ^= key.data[k];
    if (++k == key.length) k = 0;
  }
}

}  // namespace zun
