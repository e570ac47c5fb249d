#include "protect/random_generator.h"

#include "platform/random_sources.h"

namespace zun {

namespace {

constinit RandomGenerator gGenerator;

void PutWordBytes(std::uint32_t word, std::size_t from, std::uint8_t* out) {
  for (std::size_t i = from; i < 4; ++i) *out++ = static_cast<std::uint8_t>(word >> (8 * i));
}

}  // namespace

void RandomGenerator::Stir(const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    Step();
    state_ = (state_ + p[i]) & kStateMask;
  }
}

std::uint8_t RandomGenerator::Byte() {
  SpinLockGuard guard(lock_);
  return static_cast<std::uint8_t>(NextWord());
}

void RandomGenerator::Fill(void* buffer, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  SpinLockGuard guard(lock_);
  const std::size_t head = count % 4;
  if (head > 0) {
    PutWordBytes(NextWord(), 4 - head, out);
    out += head;
  }
  for (std::size_t groups = count / 4; groups > 0; --groups) {
    PutWordBytes(NextWord(), 0, out);
    out += 4;
  }
}

RandomGenerator& ProcessRandomGenerator() { return gGenerator; }

void SeedRandomAtLoad() {
  int local = 0;
  const std::uint32_t mixed = MixedSeedWord(&local);
  const std::uint8_t mixedBytes[4] = {static_cast<std::uint8_t>(mixed), static_cast<std::uint8_t>(mixed >> 8),
                                      static_cast<std::uint8_t>(mixed >> 16),
                                      static_cast<std::uint8_t>(mixed >> 24)};
  gGenerator.Stir(mixedBytes, sizeof(mixedBytes));
  CollectRandomSources([](const void* bytes, std::size_t count, void*) { gGenerator.Stir(bytes, count); },
                       nullptr);
}

void StirRandom(const void* bytes, std::size_t count) { gGenerator.Stir(bytes, count); }
std::uint8_t RandomByte() { return gGenerator.Byte(); }

}  // namespace zun
