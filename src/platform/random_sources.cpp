#include "platform/random_sources.h"

#include <sys/random.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/result_code.h"
#include "platform/clock.h"
#include "platform/process_info.h"

namespace zun {

namespace {

std::uint32_t ReverseBits(std::uint32_t v) {
  std::uint32_t r = 0;
  for (int i = 0; i < 32; ++i) {
    r = (r << 1) | (v & 1);
    v >>= 1;
  }
  return r;
}

// getrandom until `count` bytes or an error other than EINTR; the bytes read.
std::size_t GetRandomBytes(unsigned char* out, std::size_t count, unsigned flags, int* error) {
  std::size_t have = 0;
  while (have < count) {
    const ssize_t got = getrandom(out + have, count - have, flags);
    if (got > 0) {
      have += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      *error = errno;
      break;
    }
  }
  return have;
}

}  // namespace

ResultCode ReadKernelRandom(void* buffer, std::size_t count) {
  int error = 0;
  if (GetRandomBytes(static_cast<unsigned char*>(buffer), count, 0, &error) == count) return RC_OK;
  return ResultFromErrno(error);
}

std::uint32_t MixedSeedWord(const void* localAddress) {
  return ReverseBits(CurrentProcessId()) ^ CurrentThreadId() ^ static_cast<std::uint32_t>(TickCountMs()) ^
         static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(localAddress));
}

void CollectRandomSources(RandomSourceSink sink, void* context) {
  static constexpr clockid_t kClocks[] = {CLOCK_REALTIME, CLOCK_MONOTONIC,          CLOCK_MONOTONIC_RAW,
                                          CLOCK_BOOTTIME, CLOCK_PROCESS_CPUTIME_ID, CLOCK_THREAD_CPUTIME_ID};
  struct timespec readings[sizeof(kClocks) / sizeof(kClocks[0])];
  std::memset(readings, 0, sizeof(readings));
  std::size_t read = 0;
  for (clockid_t id : kClocks) {
    if (clock_gettime(id, &readings[read]) == 0) ++read;
  }
  if (read > 0) sink(readings, read * sizeof(readings[0]), context);

  // Zeroed first so that padding bytes stir in as zeros, not as stack leftovers.
  struct rusage usage;
  std::memset(&usage, 0, sizeof(usage));
  if (getrusage(RUSAGE_SELF, &usage) == 0) sink(&usage, sizeof(usage), context);

  struct sysinfo info;
  std::memset(&info, 0, sizeof(info));
  if (sysinfo(&info) == 0) sink(&info, sizeof(info), context);

  // No waiting here: early at boot the pool may not be ready, and the other
  // sources suffice for the generator.
  unsigned char kernelBytes[16];
  int error = 0;
  const std::size_t have = GetRandomBytes(kernelBytes, sizeof(kernelBytes), GRND_NONBLOCK, &error);
  if (have > 0) sink(kernelBytes, have, context);
}

void FillUniqueBytes(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t have = 0;
  while (have < count) {
    const ssize_t got = getrandom(bytes + have, count - have, GRND_NONBLOCK);
    if (got > 0) {
      have += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  static std::atomic<std::uint64_t> counter{0};
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t state = static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                        static_cast<std::uint64_t>(now.tv_nsec) + (std::uint64_t{CurrentProcessId()} << 32) +
                        CurrentThreadId() + (counter.fetch_add(1, std::memory_order_relaxed) << 48);
  for (; have < count; ++have) {
    // splitmix64: each step spreads every input bit over the output
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    bytes[have] = static_cast<unsigned char>(z ^ (z >> 31));
  }
}

}  // namespace zun
