#include "protect/random_generator.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/random_sources.h"
#include "protect/spin_lock.h"

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

TEST(RandomGenerator, FollowsTheCLibrarySequenceFromTheSameState) {
  srand48(1);  // the state a fresh generator starts from
  RandomGenerator fresh;
  for (int i = 0; i < 50; ++i) {
    std::uint8_t w[4];
    fresh.Fill(w, 4);
    ASSERT_EQ(static_cast<std::uint32_t>(lrand48()),
              w[0] | (w[1] << 8) | (w[2] << 16) | (std::uint32_t{w[3]} << 24));
  }
  for (std::uint64_t start : {0x0ull, 0xFFFFFFFFFFFFull, 0x123456789ABCull}) {
    RandomGenerator generator(start);
    Nrand48 reference(start);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(reference.Next() & 0xFF, generator.Byte()) << "step " << i;
    EXPECT_EQ(reference.State(), generator.State());
  }
}

TEST(RandomGenerator, FillPutsTheUpperBytesOfAPartialWordFirst) {
  for (std::size_t count : {1u, 3u, 4u, 7u, 40u}) {
    RandomGenerator generator(0xBEEF);
    Nrand48 reference(0xBEEF);
    std::vector<std::uint8_t> bytes(count), expected;
    generator.Fill(bytes.data(), count);
    if (count % 4 != 0) {
      const std::uint32_t w = reference.Next();
      for (std::size_t b = 4 - count % 4; b < 4; ++b)
        expected.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    }
    for (std::size_t g = 0; g < count / 4; ++g) {
      const std::uint32_t w = reference.Next();
      for (int b = 0; b < 4; ++b) expected.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    }
    EXPECT_EQ(expected, bytes) << count << " bytes";
    EXPECT_EQ(reference.State(), generator.State()) << count << " bytes";  // 40 bytes: ten steps
  }
}

TEST(RandomGenerator, StirStepsThenAddsEachByteModulo2To48) {
  const std::uint8_t bytes[] = {0x00, 0xFF, 0x80, 0x01};
  for (std::uint64_t start : {RandomGenerator::kInitialState, std::uint64_t{0xFFFFFFFFFFFF}}) {
    RandomGenerator generator(start);
    generator.Stir(bytes, sizeof(bytes));
    Nrand48 reference(start);
    for (std::uint8_t b : bytes) {
      reference.Next();
      reference = Nrand48((reference.State() + b) & 0xFFFFFFFFFFFFull);
    }
    EXPECT_EQ(reference.State(), generator.State());
  }
}

TEST(RandomGenerator, SeedingStirsFreshSystemValuesIntoTheProcessGenerator) {
  using Blocks = std::vector<std::vector<std::uint8_t>>;
  auto collect = [] {
    Blocks blocks;
    CollectRandomSources(
        [](const void* bytes, std::size_t count, void* context) {
          const auto* p = static_cast<const std::uint8_t*>(bytes);
          static_cast<Blocks*>(context)->emplace_back(p, p + count);
        },
        &blocks);
    return blocks;
  };
  const Blocks first = collect(), second = collect();
  ASSERT_EQ(4u, first.size()) << "clocks, resource usage, system information, kernel bytes";
  EXPECT_EQ(16u, first.back().size());
  EXPECT_NE(first.front(), second.front());
  EXPECT_NE(first.back(), second.back());
  int a = 0, b = 0;
  EXPECT_NE(MixedSeedWord(&a), MixedSeedWord(&b));

  const std::uint64_t before = ProcessRandomGenerator().State();
  SeedRandomAtLoad();
  EXPECT_NE(before, ProcessRandomGenerator().State());
}

// After T threads drew N words each, the state must be that of T*N steps:
// a lost or repeated step shows, and so does, under ThreadSanitizer, any
// unlocked access.
TEST(RandomGenerator, ConcurrentDrawsEachTakeTheirOwnStep) {
  constexpr int kThreads = 6, kDraws = 2000;
  RandomGenerator generator(0x42);
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      std::uint8_t word[4];
      for (int i = 0; i < kDraws; ++i) (i + t) % 2 == 0 ? generator.Fill(word, 4) : void(generator.Byte());
    });
  }
  for (auto& thread : threads) thread.join();
  Nrand48 reference(0x42);
  for (int i = 0; i < kThreads * kDraws; ++i) reference.Next();
  EXPECT_EQ(reference.State(), generator.State());
}

TEST(SpinLock, ExcludesOtherHoldersWithAndWithoutSleeping) {
  SpinLock yielding, sleeping(1);
  {
    SpinLockGuard guard(yielding);
    EXPECT_FALSE(yielding.TryLock());
  }
  EXPECT_TRUE(yielding.TryLock());
  yielding.Unlock();

  for (auto [lock, rounds] : {std::pair{&yielding, 3000}, std::pair{&sleeping, 100}}) {
    long counter = 0;  // only the lock protects it
    std::barrier start(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        start.arrive_and_wait();
        for (int i = 0; i < rounds; ++i) {
          SpinLockGuard guard(*lock);
          ++counter;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(4 * rounds, counter);
  }
}

}  // namespace
}  // namespace zun
