#pragma once
// The kernel's random source for key material, and the system values that
// seed the random generator when the library is loaded. None of the seed
// values is secret; together they make two processes, or two loads in one
// process, start from different states.
#include <cstddef>
#include <cstdint>

#include "base/result_code.h"

namespace zun {

// `count` bytes of the kernel's random source (getrandom). Waits only while
// the kernel's pool is not yet initialised after boot; interruptions and
// short reads are retried. A refusal gives the converted errno (no such
// call: RC_NOT_SUPPORTED); `buffer` then holds nothing useful.
ResultCode ReadKernelRandom(void* buffer, std::size_t count);

// The process id with its 32 bits reversed, XOR the thread id, XOR the
// monotonic tick count in milliseconds, XOR `localAddress` (the address of a
// local variable of the caller).
std::uint32_t MixedSeedWord(const void* localAddress);

// Receives one block of source bytes; `count` is never 0.
using RandomSourceSink = void (*)(const void* bytes, std::size_t count, void* context);

// Hands the sink, in this order: the readings of several clocks, the
// resource usage of the process, the system information block and 16 bytes
// of the kernel's random source. A source that cannot be read is left out.
void CollectRandomSources(RandomSourceSink sink, void* context);

// Bytes that differ between every call in every process, for unique names:
// the kernel's random source, or, where that gives nothing, a mix of the
// clock, the process and thread ids and a counter. Never fails.
void FillUniqueBytes(void* buffer, std::size_t count);

}  // namespace zun
