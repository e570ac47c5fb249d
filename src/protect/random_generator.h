#pragma once
// The library's pseudo-random generator: the 48-bit linear congruential
// generator of the drand48 family (multiplier 0x5DEECE66D, increment 0xB),
// one per process, seeded from system values when the library is loaded.
// It only picks scrambling keys: its state shows through the key indexes of
// scrambled texts, so nothing secret (session keys, tags) is drawn from it.
#include <cstddef>
#include <cstdint>

#include "base/spin_lock.h"

namespace zun {

class RandomGenerator {
 public:
  // The state this family has after seeding with 1.
  static constexpr std::uint64_t kInitialState = 0x1330E;

  constexpr explicit RandomGenerator(std::uint64_t state = kInitialState) : state_(state & kStateMask) {}
  RandomGenerator(const RandomGenerator&) = delete;
  RandomGenerator& operator=(const RandomGenerator&) = delete;

  // For each byte: one step, then the byte added to the state. Takes no
  // lock: only for a generator no other thread uses yet.
  void Stir(const void* bytes, std::size_t count);
  // One step under the lock; bits 17 to 24 of the new state.
  std::uint8_t Byte();
  // Under the lock: the upper count%4 bytes of one output word first, then
  // whole output words, each little-endian. One step per word.
  void Fill(void* buffer, std::size_t count);
  // The current state; unlocked, for a generator that only one thread uses.
  std::uint64_t State() const { return state_; }

 private:
  static constexpr std::uint64_t kStateMask = (std::uint64_t{1} << 48) - 1;

  void Step() { state_ = (0x5DEECE66Dull * state_ + 0xB) & kStateMask; }
  // One step; the 31-bit output word state >> 17.
  std::uint32_t NextWord() {
    Step();
    return static_cast<std::uint32_t>(state_ >> 17);
  }

  SpinLock lock_;
  std::uint64_t state_;  // guarded by lock_
};

// The process-wide generator. Usable before SeedRandomAtLoad (it then starts
// from kInitialState) and from any thread.
RandomGenerator& ProcessRandomGenerator();

// Stirs the system values of platform/random_sources.h into the process-wide
// generator: the mixed word (4 bytes, little-endian), then each source
// block. Called once by the library's load constructor, before any thread
// of the library exists.
void SeedRandomAtLoad();

void StirRandom(const void* bytes, std::size_t count);
std::uint8_t RandomByte();

}  // namespace zun
