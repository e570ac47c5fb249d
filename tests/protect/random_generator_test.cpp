#include "protect/random_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/spin_lock.h"
#include "support/test_support.h"

namespace zun {
namespace {

// The C library's nrand48 keeps the same 48-bit state in three 16-bit words.
struct Nrand48 {
  unsigned short x[3];
  explicit Nrand48(std::uint64_t s)
      : x{static_cast<unsigned short>(s), static_cast<unsigned short>(s >> 16),
          static_cast<unsigned short>(s >> 32)} {}
  std::uint32_t Next() { return static_cast<std::uint32_t>(nrand48(x)); }
  std::uint64_t State() const { return x[0] | (std::uint64_t{x[1]} << 16) | (std::uint64_t{x[2]} << 32); }
};

TEST(RandomGenerator, FollowsTheCLibrarySequenceFromTheSameStateAndIsSeededAtLoad) {
  srand48(1);  // the state a fresh generator starts from
  std::uint32_t words[51];
  for (auto& w : words) w = static_cast<std::uint32_t>(lrand48());
  RandomGenerator fresh;
  std::uint8_t bytes[203];
  fresh.Fill(bytes, sizeof(bytes));
  // Little-endian words, the first giving only its upper three bytes.
  for (int j = 1; j <= 203; ++j)
    ASSERT_EQ(static_cast<std::uint8_t>(words[j / 4] >> (8 * (j % 4))), bytes[j - 1]) << j;
  for (std::uint64_t start : {0x0ull, 0xFFFFFFFFFFFFull, 0x123456789ABCull}) {
    RandomGenerator generator(start);
    Nrand48 reference(start);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(reference.Next() & 0xFF, generator.Byte()) << "step " << i;
    EXPECT_EQ(reference.State(), generator.State());
  }
  // Seeding at load stirs fresh system values into the process generator.
  const std::uint64_t before = ProcessRandomGenerator().State();
  SeedRandomAtLoad();
  EXPECT_NE(before, ProcessRandomGenerator().State());
}

// A lost or repeated step shows in the final state, a lost increment in the
// counter that only a sleeping lock guards; unlocked access shows under
// ThreadSanitizer.
TEST(RandomGenerator, ConcurrentDrawsEachTakeTheirOwnStep) {
  constexpr unsigned kThreads = 6, kDraws = 2000;
  RandomGenerator generator(0x42);
  SpinLock sleeping(1);
  long counter = 0;
  test::RunThreads(kThreads, [&](unsigned t) {
    std::uint8_t word[4];
    for (unsigned i = 0; i < kDraws; ++i) (i + t) % 2 == 0 ? generator.Fill(word, 4) : void(generator.Byte());
    for (int i = 0; i < 100; ++i) {
      SpinLockGuard guard(sleeping);
      ++counter;
    }
  });
  Nrand48 reference(0x42);
  for (unsigned i = 0; i < kThreads * kDraws; ++i) reference.Next();
  EXPECT_EQ(reference.State(), generator.State());
  EXPECT_EQ(kThreads * 100, counter);
}

}  // namespace
}  // namespace zun
