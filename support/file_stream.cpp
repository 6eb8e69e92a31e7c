#include "support/file_stream.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>

#include "platform/io.h"

namespace support {

using platform::ActiveFileCalls;
using platform::FileCalls;

namespace {

constexpr int kPermission = _S_IREAD | _S_IWRITE;

// Closes a handle whose stream never came to be; its failure would only hide the first alarm.
void CloseQuietly(int handle) { ActiveFileCalls().close(handle); }

}  // namespace

int XOpenFile(const char* path, std::uint16_t mode, std::int32_t* position) {
  const FileCalls& io = ActiveFileCalls();
  int openFlags;
  int createFlags;
  if ((mode & OpenRead) && (mode & OpenWrite)) {
    openFlags = _O_BINARY | _O_RDWR;
    createFlags = _O_BINARY | _O_RDWR | _O_CREAT | _O_TRUNC;
  } else if (mode & OpenRead) {
    openFlags = _O_BINARY | _O_RDONLY;
    createFlags = openFlags;
    mode = OpenExisting;  // a read-only open never creates and never appends
  } else {
    openFlags = _O_BINARY | _O_WRONLY;
    createFlags = _O_BINARY | _O_WRONLY | _O_CREAT | _O_TRUNC;
  }

  std::int32_t end = 0;
  auto seekToEnd = [&](int handle) {
    const long at = io.lseek(handle, 0, SEEK_END);
    if (at == -1) {
      CloseQuietly(handle);
      throw XFileAlarm(FileAlarmKind::Seek, path);
    }
    end = static_cast<std::int32_t>(at);
  };

  int handle;
  if (mode & OpenExisting) {
    handle = io.open(path, openFlags, 0);
    if (handle == -1) throw XFileAlarm(FileAlarmKind::Open, path);
    if (mode & OpenAppend) seekToEnd(handle);
  } else if (mode & OpenOrCreate) {
    handle = io.open(path, openFlags, 0);
    if (handle == -1) {
      handle = io.open(path, createFlags, kPermission);
      if (handle == -1) throw XFileAlarm(FileAlarmKind::Create, path);
    } else if (mode & OpenAppend) {
      seekToEnd(handle);
    }
  } else {
    handle = io.open(path, createFlags, kPermission);
    if (handle == -1) throw XFileAlarm(FileAlarmKind::Create, path);
  }
  if (position != nullptr) *position = end;
  return handle;
}

// ---- input ----

XInStream::~XInStream() noexcept(false) = default;

void XInStream::SetUpBuffer(std::int32_t size) {
  if (size <= 0) return;
  buffer_.reset(new std::uint8_t[static_cast<std::size_t>(size)]);
  capacity_ = fill_ = pos_ = size;
}

bool XInStream::Refill() {
  const std::int32_t n = ReadSource(buffer_.get(), capacity_);
  fill_ = n;
  if (n <= 0) {
    fill_ = 0;
    return false;
  }
  pos_ = 0;
  return true;
}

int XInStream::RunDry() {
  if (strictDepth_ != 0) throw XFileAlarm(FileAlarmKind::BlockRead, nullptr);
  good_ = 0;
  current_ = Byte{};
  return -1;
}

int XInStream::ReadByteSlow() {
  if (fill_ != 0) {
    if (pos_ == fill_ && !Refill()) return RunDry();
    current_ = static_cast<Byte>(buffer_[static_cast<std::size_t>(pos_++)]);
    return static_cast<int>(current_);
  }
  if (pending_ != 0) {
    pending_ = 0;
  } else {
    std::uint8_t v = 0;
    if (ReadSource(&v, 1) <= 0) return RunDry();
    current_ = static_cast<Byte>(v);
  }
  return static_cast<int>(current_);
}

XInStream& XInStream::ReadBlock(std::uint8_t* destination, std::int32_t n) {
  if (n > 0 && pending_ != 0) {  // the byte BeginStrict looked ahead at
    *destination++ = static_cast<std::uint8_t>(current_);
    pending_ = 0;
    --n;
  }
  if (n > 0 && pos_ < fill_) {
    const std::int32_t take = fill_ - pos_ < n ? fill_ - pos_ : n;
    std::memcpy(destination, buffer_.get() + pos_, static_cast<std::size_t>(take));
    pos_ += take;
    destination += take;
    n -= take;
  }
  while (n > 0) {
    const std::int32_t got = ReadSource(destination, n);
    if (got <= 0) throw XFileAlarm(FileAlarmKind::BlockRead, nullptr);
    destination += got;
    n -= got;
  }
  return *this;
}

XInStream& XInStream::BeginStrict() {
  if (strictDepth_ == 0) {
    if (fill_ != 0) {
      if (pos_ == fill_ && !Refill()) {
        good_ = 0;
        current_ = Byte{};
      }
    } else if (pending_ == 0) {
      std::uint8_t v = 0;
      if (ReadSource(&v, 1) > 0) {
        current_ = static_cast<Byte>(v);
        pending_ = 1;
      } else {
        good_ = 0;
        current_ = Byte{};
      }
    }
  }
  ++strictDepth_;
  return *this;
}

XInStream& XInStream::EndStrict() {
  if (strictDepth_ != 0) --strictDepth_;
  return *this;
}

XFileInStream::XFileInStream(const char* path, std::int32_t bufferSize)
    : handle_(XOpenFile(path, OpenRead)), uncaught_(std::uncaught_exceptions()) {
  try {
    SetUpBuffer(bufferSize);
  } catch (...) {
    CloseQuietly(handle_);
    throw;
  }
}

XFileInStream::XFileInStream(AdoptedHandle adopted, std::int32_t bufferSize)
    : handle_(adopted.handle), uncaught_(std::uncaught_exceptions()) {
  try {
    SetUpBuffer(bufferSize);
  } catch (...) {
    CloseQuietly(handle_);
    throw;
  }
}

std::int32_t XFileInStream::ReadSource(std::uint8_t* destination, std::int32_t n) {
  if (n <= 0) return 0;
  const int got = ActiveFileCalls().read(handle_, destination, static_cast<unsigned int>(n));
  if (got < 0) throw XFileAlarm(FileAlarmKind::Read, nullptr);
  return got;
}

void XFileInStream::SeekSource(std::int32_t offset) {
  if (ActiveFileCalls().lseek(handle_, offset, SEEK_SET) == -1) {
    throw XFileAlarm(FileAlarmKind::Seek, nullptr);
  }
}

XFileInStream::~XFileInStream() noexcept(false) {
  // The buffer goes with the base part whatever happens here.
  if (ActiveFileCalls().close(handle_) != 0 && std::uncaught_exceptions() <= uncaught_) {
    throw XFileAlarm(FileAlarmKind::Close, nullptr);
  }
}

// ---- output ----

XOutStream::~XOutStream() noexcept(false) = default;

void XOutStream::SetUpBuffer(std::int32_t size) {
  if (size <= 0) return;
  buffer_.reset(new std::uint8_t[static_cast<std::size_t>(size)]);
  capacity_ = largestBlock_ = size;
}

XOutStream& XOutStream::Flush() {
  if (count_ > 0) {
    WriteSink(buffer_.get(), count_);
    count_ = 0;
  }
  return *this;
}

XOutStream& XOutStream::PutByte(std::uint8_t b) {
  last_ = b;
  if (!buffer_) {
    WriteSink(&last_, 1);
    return *this;
  }
  if (count_ == capacity_) Flush();
  buffer_[static_cast<std::size_t>(count_++)] = b;
  return *this;
}

XOutStream& XOutStream::WriteBlock(const std::uint8_t* data, std::int32_t n) {
  if (n <= 0) return *this;
  if (!buffer_) {
    WriteSink(data, n);
    return *this;
  }
  if (n > largestBlock_) {
    Flush();
    WriteSink(data, n);
    return *this;
  }
  while (n > 0) {
    if (count_ == capacity_) Flush();
    const std::int32_t take = n < capacity_ - count_ ? n : capacity_ - count_;
    std::memcpy(buffer_.get() + count_, data, static_cast<std::size_t>(take));
    count_ += take;
    data += take;
    n -= take;
  }
  return *this;
}

XFileOutStream::XFileOutStream(const char* path, std::uint16_t mode, std::int32_t bufferSize)
    : handle_(XOpenFile(path, static_cast<std::uint16_t>(mode | OpenWrite))),
      uncaught_(std::uncaught_exceptions()) {
  try {
    SetUpBuffer(bufferSize);
  } catch (...) {
    CloseQuietly(handle_);
    throw;
  }
}

void XFileOutStream::WriteSink(const std::uint8_t* data, std::int32_t n) {
  const int wrote = ActiveFileCalls().write(handle_, data, static_cast<unsigned int>(n));
  if (wrote != n) {
    DropCollected();
    throw XFileAlarm(FileAlarmKind::Write, nullptr);
  }
}

XFileOutStream::~XFileOutStream() noexcept(false) {
  std::optional<XFileAlarm> first;
  try {
    Flush();
  } catch (const XFileAlarm& alarm) {
    first.emplace(alarm);
  }
  if (ActiveFileCalls().close(handle_) != 0 && !first) first.emplace(FileAlarmKind::Close, nullptr);
  if (first && std::uncaught_exceptions() <= uncaught_) throw *first;
}

}  // namespace support
