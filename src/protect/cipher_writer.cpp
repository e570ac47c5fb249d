#include "protect/cipher_writer.h"

#include <algorithm>
#include <limits>
#include <new>

namespace zun {

ResultCode CipherWriter::FlushOutput() {
  std::size_t at = 0;
  while (at < output_.size()) {
    const std::size_t chunk =
        std::min<std::size_t>(output_.size() - at, std::numeric_limits<std::uint32_t>::max());
    const ResultCode rc = sink_.Write(output_.data() + at, static_cast<std::uint32_t>(chunk), nullptr);
    if (Failed(rc)) {
      output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(at));
      return rc;
    }
    at += chunk;
  }
  output_.clear();
  return RC_OK;
}

ResultCode CipherWriter::Write(const void* bytes, std::size_t count, std::size_t* written) {
  if (written) *written = 0;
  if (finished_) return RC_INVALID_OPERATION;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  try {
    input_.insert(input_.end(), p, p + count);
    const std::size_t blockSize = cipher_.BlockSize();
    while (input_.size() >= blockSize) {
      const std::size_t whole =
          cipher_.CanProcessManyBlocks() ? input_.size() / blockSize * blockSize : blockSize;
      const ResultCode rc = cipher_.EncryptBlocks(input_.data(), whole, blocks_);
      if (Failed(rc)) return rc;
      output_.insert(output_.end(), blocks_.begin(), blocks_.end());
      input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(whole));
      const ResultCode flushed = FlushOutput();
      if (Failed(flushed)) return flushed;
    }
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  if (written) *written = count;
  return RC_OK;
}

ResultCode CipherWriter::Finish() {
  if (finished_) return RC_OK;
  try {
    ResultCode rc = FlushOutput();
    if (Failed(rc)) return rc;
    rc = cipher_.EncryptFinal(input_.data(), input_.size(), blocks_);
    if (Failed(rc)) return rc;
    output_.insert(output_.end(), blocks_.begin(), blocks_.end());
    input_.clear();
    rc = FlushOutput();
    if (Failed(rc)) return rc;
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  finished_ = true;
  return RC_OK;
}

}  // namespace zun
