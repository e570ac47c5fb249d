#pragma once
// Random-access streams over files and memory, with 64-bit positions. A
// stream object is used by one thread at a time; its users hold their own
// locks.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result_code.h"
#include "base/text.h"

namespace zun {

inline constexpr std::uint32_t kStreamInterfaceId = 33;
inline constexpr std::uint32_t kPersistenceInterfaceId = 32;
inline constexpr std::uint32_t kNativeHandleInterfaceId = 40;

class Stream;

// A mapped region of a file, or a window on a memory buffer. Must be
// destroyed before its stream.
class StreamView {
 public:
  virtual ~StreamView() = default;
  virtual std::uint8_t* Data() const = 0;
  virtual std::uint64_t Length() const = 0;
  virtual bool ReadOnly() const = 0;
  virtual ResultCode Flush() = 0;
};

class Stream {
 public:
  virtual ~Stream() = default;

  // Interface id 33: this stream (a Stream*); 40 (file streams): the
  // FileStream*, whose NativeHandle gives the descriptor. Others: null and
  // *found = false.
  virtual void* QueryInterface(std::uint32_t id, std::uint32_t index, bool* found);

  // ReadAt/WriteAt at the current position, which then advances by the bytes
  // done (by `length` when `done` is null).
  ResultCode Read(void* buffer, std::uint32_t length, std::uint32_t* done);
  ResultCode Write(const void* buffer, std::uint32_t length, std::uint32_t* done);
  std::uint64_t GetPosition() const { return position_; }
  // origin 0 start, 1 current, 2 end; before the start: RC_NEGATIVE_SEEK
  // with the position kept; another origin: RC_INVALID_PARAMETER.
  ResultCode Seek(std::int64_t offset, std::uint32_t origin);

  virtual ResultCode GetSize(std::uint64_t* size) = 0;
  virtual ResultCode SetSize(std::uint64_t size) = 0;
  // Fewer bytes than asked: with `done`, the count and RC_INFO_LAST_INPUT
  // (at least one byte) or RC_INPUT_TRUNCATED; without `done`,
  // RC_INPUT_TRUNCATED.
  virtual ResultCode ReadAt(std::uint64_t offset, void* buffer, std::uint32_t length,
                            std::uint32_t* done) = 0;
  virtual ResultCode WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t length,
                             std::uint32_t* done) = 0;
  // length 0: the rest of the stream from `offset`.
  virtual ResultCode MapView(std::uint64_t offset, std::uint64_t length, bool writable,
                             std::unique_ptr<StreamView>* view) = 0;

 private:
  std::uint64_t position_ = 0;
};

// Open kinds of FileStream::Open.
enum class OpenKind : std::uint32_t {
  kCreateNew = 0,         // fail if it exists
  kCreateAlways = 1,      // create or truncate
  kOpenExisting = 2,      // fail if missing
  kOpenAlways = 3,        // open or create
  kTruncateExisting = 4,  // truncate, fail if missing
  kAppend = 5,            // open or create; writes go to the end (O_APPEND)
};
inline constexpr std::uint32_t kAccessRead = 1;
inline constexpr std::uint32_t kAccessWrite = 2;
inline constexpr std::uint32_t kShareRead = 1;
inline constexpr std::uint32_t kShareWrite = 2;
inline constexpr std::uint32_t kShareDelete = 4;
inline constexpr std::uint32_t kOptionDeleteOnClose = 1;
inline constexpr std::uint32_t kOptionAsynchronous = 2;
inline constexpr std::uint32_t kOptionRandomAccess = 4;
inline constexpr std::uint32_t kOptionWriteThrough = 8;

// A file through a descriptor. Linux has no share modes: the share bits are
// accepted and have no effect beyond the size cache rule.
class FileStream : public Stream {
 public:
  FileStream() = default;
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // `path` may use "\" or "/"; `mode` is the permission for a new file (the
  // umask applies unless `exactMode`). A failure leaves the stream closed.
  ResultCode Open(WStringView path, OpenKind kind, std::uint32_t access, std::uint32_t share,
                  std::uint32_t options, std::uint32_t mode = 0666, bool exactMode = false);
  void Close();
  bool IsOpen() const;
  bool IsAsynchronous() const;
  bool CanRead() const;
  bool CanWrite() const;
  // The descriptor, or RC_EMPTY when closed.
  ResultCode NativeHandle(int* fd) const;
  // True when the last successful Open made a new file rather than opening
  // an existing one.
  bool CreatedFile() const { return created_; }

  void* QueryInterface(std::uint32_t id, std::uint32_t index, bool* found) override;
  ResultCode GetSize(std::uint64_t* size) override;
  ResultCode SetSize(std::uint64_t size) override;
  ResultCode ReadAt(std::uint64_t offset, void* buffer, std::uint32_t length, std::uint32_t* done) override;
  ResultCode WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t length,
                     std::uint32_t* done) override;
  ResultCode MapView(std::uint64_t offset, std::uint64_t length, bool writable,
                     std::unique_ptr<StreamView>* view) override;

 private:
  friend class FileView;
  int fd_ = -1;
  std::uint32_t access_ = 0;
  std::uint32_t options_ = 0;
  bool sizeCacheAllowed_ = false;
  bool sizeCached_ = false;
  std::uint64_t cachedSize_ = 0;
  std::uint32_t liveViews_ = 0;
  bool created_ = false;
  // Delete-on-close: the name to remove and the identity it must still have.
  std::string deletePath_;
  std::uint64_t deleteDevice_ = 0;
  std::uint64_t deleteInode_ = 0;
};

// Growth seam of memory stream mode 2: a buffer owned by another object.
class GrowableBuffer {
 public:
  virtual ~GrowableBuffer() = default;
  virtual ResultCode Grow(std::uint32_t size) = 0;
  virtual std::uint8_t* Data() = 0;
};

// A byte buffer. Mode 0: fixed external buffer; mode 1: own vector; mode 2:
// a GrowableBuffer. Sizes and offsets are limited to 32 bits.
class MemoryStream : public Stream {
 public:
  MemoryStream();                                                                         // mode 1, empty
  MemoryStream(void* buffer, std::uint32_t capacity, std::uint32_t size, bool readOnly);  // mode 0
  MemoryStream(GrowableBuffer* owner, std::uint32_t size, bool readOnly);                 // mode 2

  const std::uint8_t* Data() const;
  std::uint32_t Size() const { return size_; }

  ResultCode GetSize(std::uint64_t* size) override;
  ResultCode SetSize(std::uint64_t size) override;
  ResultCode ReadAt(std::uint64_t offset, void* buffer, std::uint32_t length, std::uint32_t* done) override;
  ResultCode WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t length,
                     std::uint32_t* done) override;
  ResultCode MapView(std::uint64_t offset, std::uint64_t length, bool writable,
                     std::unique_ptr<StreamView>* view) override;

 private:
  ResultCode GrowTo(std::uint32_t size);
  std::uint8_t* MutableData();

  std::uint32_t mode_;
  bool readOnly_;
  std::uint8_t* external_ = nullptr;
  std::uint32_t capacity_ = 0;
  GrowableBuffer* owner_ = nullptr;
  std::vector<std::uint8_t> own_;
  std::uint32_t size_ = 0;
};

}  // namespace zun
