#include "support/alarm.h"

#include <cstring>
#include <new>

namespace support {

namespace {
// An alarm without memory for its detail is still raised, only without the detail.
char* CopyDetail(const char* detail) noexcept {
  if (detail == nullptr) return nullptr;
  const std::size_t n = std::strlen(detail) + 1;
  char* copy = new (std::nothrow) char[n];
  if (copy != nullptr) std::memcpy(copy, detail, n);
  return copy;
}
}  // namespace

XAlarm::XAlarm(const char* systemLabel, const char* what, const char* extra) noexcept
    : system(systemLabel), message(what), detail(CopyDetail(extra)) {}

XAlarm::XAlarm(const XAlarm& other) noexcept
    : system(other.system), message(other.message), detail(CopyDetail(other.detail)) {}

XAlarm& XAlarm::operator=(const XAlarm& other) noexcept {
  if (this != &other) {
    char* copy = CopyDetail(other.detail);
    delete[] detail;
    detail = copy;
    system = other.system;
    message = other.message;
  }
  return *this;
}

XAlarm::~XAlarm() { delete[] detail; }

const char* FileAlarmMessage(FileAlarmKind kind) noexcept {
  switch (kind) {
    case FileAlarmKind::Open: return "Unable to open file";
    case FileAlarmKind::Create: return "Unable to create file";
    case FileAlarmKind::Read: return "Unable to read file";
    case FileAlarmKind::BlockRead: return "Unable to block read file";
    case FileAlarmKind::Write: return "Unable to write file";
    case FileAlarmKind::Seek: return "Unable to seek file";
    case FileAlarmKind::Close: return "Unable to close file";
  }
  return "Unable to use file";
}

XFileAlarm::XFileAlarm(FileAlarmKind what, const char* extra) noexcept
    : XAlarm(kSystem, FileAlarmMessage(what), extra), kind(what) {}

XFileAlarm::~XFileAlarm() = default;

}  // namespace support
