#pragma once
// Process and thread identifiers, cached so a log call makes no system call
// for them: the process id is renewed in the child after fork, the thread id
// is read once per thread.
#include <cstdint>

namespace zun {

std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

}  // namespace zun
