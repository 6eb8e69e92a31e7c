// Buffered file streams over the runtime's low-level file handles. Every failure is raised as an
// XFileAlarm, never returned. Reading loop: call ReadByte, and use the byte only while good() is
// still set after the call that delivered it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/file_calls.h"
#include "support/alarm.h"

namespace support {

enum OpenMode : std::uint16_t {
  OpenExisting = 1,
  OpenOrCreate = 2,
  OpenAppend = 4,
  OpenRead = 8,
  OpenWrite = 16,
};

// Opens (or creates) `path`; returns the handle. `position`, when given, receives the end-of-file
// offset when OpenAppend positioned the file, else 0.
int XOpenFile(const char* path, std::uint16_t mode, std::int32_t* position = nullptr);

class XInStream {
 public:
  XInStream() = default;
  XInStream(const XInStream&) = delete;
  XInStream& operator=(const XInStream&) = delete;

  // Bytes read into `destination`, at most n; 0 when the source has no more data.
  virtual std::int32_t ReadSource(std::uint8_t* destination, std::int32_t n) = 0;
  // Moves the source (not the buffer) to `offset` bytes from its start.
  virtual void SeekSource(std::int32_t offset) = 0;
  virtual ~XInStream() noexcept(false);

  XInStream& ReadByte(std::uint8_t& b) {
    // Buffered with bytes left: the common case stays inline; everything else goes out of line.
    if (pos_ < fill_) {
      const std::uint8_t v = buffer_[static_cast<std::size_t>(pos_++)];
      current_ = static_cast<Byte>(v);
      b = v;
      return *this;
    }
    // The slow path returns the byte rather than writing through `b`, so `b` never escapes and
    // stays in a register in the caller's loop.
    const int slow = ReadByteSlow();
    if (slow >= 0) b = static_cast<std::uint8_t>(slow);
    return *this;
  }
  // Exactly `n` bytes into `destination`: what the buffer holds, then straight from the source, with
  // no copy through the buffer. A source that runs dry first raises the block-read alarm.
  XInStream& ReadBlock(std::uint8_t* destination, std::int32_t n);
  int good() const { return good_; }
  XInStream& BeginStrict();
  XInStream& EndStrict();

 protected:
  // Size 0: no buffer, direct reads. Size n: a buffer that looks full and used, so the first read
  // refills it. Throws std::bad_alloc.
  void SetUpBuffer(std::int32_t size);

 private:
  int ReadByteSlow();  // the byte, or -1 when none was delivered
  bool Refill();  // false when the source ran dry
  int RunDry();  // the source gave nothing: alarm when strict, else dry (-1)

  // Not a character type: a store to it cannot alias pos_ and fill_, which keeps the loop tight.
  enum class Byte : std::uint8_t {};
  Byte current_{};
  std::int32_t good_ = 1;
  std::uint16_t strictDepth_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::int32_t fill_ = 0;
  std::int32_t capacity_ = 0;
  std::int32_t pos_ = 0;
  std::int32_t pending_ = 0;
};

// A handle opened elsewhere, handed over to a stream that closes it.
struct AdoptedHandle {
  int handle;
};

class XFileInStream : public XInStream {
 public:
  // Opens `path` for reading (never creating), then sets up a buffer of `bufferSize` bytes.
  XFileInStream(const char* path, std::int32_t bufferSize);
  // Reads from a handle opened elsewhere and closes it.
  XFileInStream(AdoptedHandle adopted, std::int32_t bufferSize);
  std::int32_t ReadSource(std::uint8_t* destination, std::int32_t n) override;
  void SeekSource(std::int32_t offset) override;
  // Closes the handle; raises "Unable to close file" unless another exception is already passing,
  // in which case the second failure is dropped.
  ~XFileInStream() noexcept(false) override;

 private:
  int handle_;
  int uncaught_;
};

class XOutStream {
 public:
  XOutStream() = default;
  XOutStream(const XOutStream&) = delete;
  XOutStream& operator=(const XOutStream&) = delete;

  virtual void WriteSink(const std::uint8_t* data, std::int32_t n) = 0;
  virtual ~XOutStream() noexcept(false);

  XOutStream& PutByte(std::uint8_t b);
  XOutStream& WriteBlock(const std::uint8_t* data, std::int32_t n);
  XOutStream& Flush();

 protected:
  void SetUpBuffer(std::int32_t size);  // throws std::bad_alloc
  void DropCollected() { count_ = 0; }

 private:
  std::uint8_t last_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::int32_t capacity_ = 0;
  std::int32_t largestBlock_ = 0;
  std::int32_t count_ = 0;
};

class XFileOutStream : public XOutStream {
 public:
  // Opens `path` with `mode` combined with OpenWrite, then sets up the buffer.
  XFileOutStream(const char* path, std::uint16_t mode, std::int32_t bufferSize);
  void WriteSink(const std::uint8_t* data, std::int32_t n) override;
  // Flushes, closes and releases the buffer; raises the first failure unless another exception is
  // already passing.
  ~XFileOutStream() noexcept(false) override;

 private:
  int handle_;
  int uncaught_;
};

}  // namespace support
