#pragma once
// Forcing a file's written data to the disk.
#include "base/result_code.h"
#include "platform/stream.h"

namespace zun {

// Flushes the file's data and metadata to the storage device. A closed
// stream gives RC_EMPTY; a system failure its converted code.
ResultCode FlushFileBuffers(const FileStream& file);

}  // namespace zun
