// Everything the tool prints: standard output carries the picture's or the sound's bytes, or text
// lines; messages go to standard error.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace cli {

enum class Stream { kOut, kError };

// Text as it is, flushed; false when it could not all be written.
bool Print(Stream stream, const std::string& text);
// The text and a line end.
bool PrintLine(Stream stream, const std::string& text);
// Bytes to standard output unchanged (no text mode); false when they could not all be written.
bool WriteBytes(const void* data, std::size_t size);

// "vexorin: <message> (try --help)"; the exit status of a usage error, 2.
int UsageError(const std::string& message);
// "vexorin: <what> failed[: <why>] (HRESULT 0x...)"; the exit status of a failed run, 1.
int Failed(const std::string& what, HRESULT hr, const std::string& why = std::string());
// "vexorin: <message>"; 1.
int Complain(const std::string& message);

}  // namespace cli
