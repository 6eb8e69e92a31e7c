// The tool's runs, one per mode, each through the component's own methods; each returns the
// process's exit status (0 done, 1 failed; --verify: 1 when not verified).
#pragma once

#include <string>

#include "cli/options.h"
#include "platform/owner.h"

namespace cli {

int DrawPicture(const Options& options);
int SpeakNumber(const Options& options);
int PrintChallenge(const Options& options);
int CheckPayload(const Options& options);

// The output name as the component takes it, or false (with a message) when the conversion would
// name another file: bytes that are no text in this system's code page would become U+FFFD.
bool OutputPath(const char* output, platform::unique_bstr& path);
// Why a component's SaveToFile(path) failed with `hr`, in words, when it was not the picture or
// sound itself: the name, its directory, the file.
std::string WhyNotWritten(HRESULT hr, BSTR path);
// The number shown or spoken: on standard output, or on standard error when the bytes went there.
int PrintNumber(const std::string& number, bool bytesOnStdout);

}  // namespace cli
