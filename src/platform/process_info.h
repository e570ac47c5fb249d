#pragma once
// Process and thread identifiers, cached so a log call makes no system call
// for them: the process id is renewed in the child after fork, the thread id
// is read once per thread.
#include <cstdint>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

// Absolute path of this process's executable image. Thread-safe; read anew
// at each call. Codes: the converted system error; RC_OUT_OF_MEMORY.
ResultCode GetProcessImagePath(WString* out);
// Absolute path of the file that holds the library's code: the shared
// object, or the executable when the library is linked into it. Thread-safe.
// Codes: RC_NOT_AVAILABLE when the loader does not know the file; the
// converted system error; RC_OUT_OF_MEMORY.
ResultCode GetLibraryModulePath(WString* out);

}  // namespace zun
