#pragma once
// Text to the process's standard output or standard error.
#include <string_view>

#include "base/result_code.h"

namespace zun {

// Writes `bytes` (UTF-8) to descriptor 2 when `standardError`, else 1, in
// pieces of at most 32768 bytes, all of them. A process whose descriptor is
// closed loses the text silently (success). A reader that went away gives
// the converted EPIPE and never raises SIGPIPE in the process. Safe on any
// thread; writers of the same stream are not serialised against each other.
ResultCode WriteConsole(std::string_view bytes, bool standardError) noexcept;

}  // namespace zun
