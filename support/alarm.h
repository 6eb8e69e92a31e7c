// The support library's exceptions. Each carries three texts that a handler reads separately:
// a system label and a message (static, not owned) and an optional detail (a private copy).
// A file alarm also carries its kind, set where it is raised; its message is derived from the kind,
// so a handler decides by the kind and never by the wording.
#pragma once

namespace support {

class XAlarm {
 public:
  XAlarm(const char* system, const char* message, const char* detail) noexcept;
  XAlarm(const XAlarm& other) noexcept;
  XAlarm& operator=(const XAlarm& other) noexcept;
  virtual ~XAlarm();

  const char* system;
  const char* message;
  // Null when there is none, or when no memory was left for the copy.
  char* detail;
};

enum class FileAlarmKind { Open, Create, Read, BlockRead, Write, Seek, Close };

// "Unable to open file", "Unable to create file", ...: the message of each kind.
const char* FileAlarmMessage(FileAlarmKind kind) noexcept;

class XFileAlarm : public XAlarm {
 public:
  static constexpr const char* kSystem = "File System: ";
  XFileAlarm(FileAlarmKind kind, const char* detail) noexcept;
  XFileAlarm(const XFileAlarm& other) noexcept = default;
  XFileAlarm& operator=(const XFileAlarm& other) noexcept = default;
  ~XFileAlarm() override;

  FileAlarmKind kind;
};

}  // namespace support
