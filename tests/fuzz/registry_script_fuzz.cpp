// The registrar's script parser and substitution over arbitrary text.
#include <cstdint>
#include <string>
#include <vector>

#include "com/registry_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string script =
      registry_script::Substitute(text, {{"APPID", "{A}"}, {"MODULE", "C:\\x''y.dll"}});
  std::vector<registry_script::RootBlock> blocks;
  std::string error;
  if (!registry_script::Parse(script, blocks, error) && error.empty()) __builtin_trap();
  return 0;
}
