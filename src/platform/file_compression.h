#pragma once
// The file system's own compression of a file: the file's compression flag
// (FS_COMPR_FL, honoured by btrfs). Names and content stay as they are; only
// the space the file takes changes. Paths may use "\" or "/" as separator.
#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// Whether the file carries the compression flag. Fails with the converted
// errno when the file cannot be opened or the file system keeps no flags
// (RC_NOT_SUPPORTED); `*compressed` is then left unchanged.
ResultCode IsFileCompressed(WStringView path, bool* compressed);

// Sets the compression flag and has btrfs rewrite the existing content
// compressed, which may take a while for a large file. A file that already
// carries the flag is left alone and succeeds. On a file system that would not
// compress flagged files (anything but btrfs) nothing is touched and the
// result is RC_NOT_SUPPORTED. Other failures (the file cannot be opened for
// reading and writing, is not a regular file, the flag is refused) are the
// converted errno or RC_NOT_SUPPORTED; the file is unchanged then.
ResultCode CompressFile(WStringView path);

}  // namespace zun
