#include <string>

#include "cli/output.h"
#include "cli/runs.h"
#include "platform/output_file.h"
#include "platform/text.h"

namespace cli {

bool OutputPath(const char* output, platform::unique_bstr& path) {
  path.reset(platform::MakeBstrNothrow(output));
  if (path.get() == nullptr) {
    Failed("converting the output path", E_OUTOFMEMORY);
    return false;
  }
  std::string back;
  if (!platform::NarrowFromWide(path.get(), back) || back != output) {
    Complain(std::string("the file name '") + output + "' is not text in this system's code page");
    return false;
  }
  return true;
}

std::string WhyNotWritten(HRESULT hr, BSTR path) {
  if (hr == E_OUTOFMEMORY) return "out of memory";
  if (FAILED(platform::CheckOutputName(path, SysStringLen(path)))) {
    return "the system would not write a file of exactly this name (a device, a stream, or a dot or a "
           "space at a name's end)";
  }
  if (hr == E_INVALIDARG) return "the name is a device's, not a file's";
  if (!platform::OutputDirectoryExists(path)) return "the directory does not exist";
  return "the file could not be created or written";
}

int PrintNumber(const std::string& number, bool bytesOnStdout) {
  return PrintLine(bytesOnStdout ? Stream::kError : Stream::kOut, number) ? 0 : 1;
}

}  // namespace cli
