// The proof-of-work payload reader over any text. The first byte picks the route: the input as the
// payload itself (base64 and all), or as the decoded JSON, base64-encoded here and, when it holds
// challenge parameters, signed afresh with the key, so that inputs reach what is read only after
// the signature holds. Nothing may crash, and "verified" must mean a key that really starts with
// the signed prefix.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "component/work/altcha_json.h"
#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/shared/work_support.h"

namespace {

constexpr const char* kSecret = "fuzz secret";
std::int64_t FixedClock() { return 1800000000; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t route = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  static vexorin::WorkState state([] {
    vexorin::WorkSettings settings;
    settings.replayCapacity = settings.checkedCapacity = 64;
    settings.clock = &FixedClock;
    return settings;
  }());
  vexorin::WorkComponent work(&state);
  if (FAILED(work.SetSecret(kSecret))) std::abort();
  nlohmann::json parsed;
  if (route & 1) {
    parsed = nlohmann::json::parse(text, nullptr, false);
    if ((route & 2) && parsed.is_object() && parsed.contains("challenge") && parsed["challenge"].is_object() &&
        parsed["challenge"].contains("parameters")) {
      bool ok = false;
      const std::string canonical = vexorin::CanonicalJson(parsed["challenge"]["parameters"].dump(), ok);
      unsigned char mac[platform::kSha256Bytes];
      if (ok && SUCCEEDED(platform::HmacSha256(kSecret, 11, canonical.data(), canonical.size(), mac))) {
        parsed["challenge"]["signature"] = testing_support::HexOf(mac, sizeof mac);
        text = parsed.dump();
      }
    }
    text = testing_support::Base64Of(text.data(), text.size());
  }
  vexorin::WorkOutcome outcome = vexorin::WorkOutcome::kNone;
  if (FAILED(work.Verify(text.data(), text.size(), "fuzz", outcome))) std::abort();
  if (outcome == vexorin::WorkOutcome::kVerified) {
    std::vector<unsigned char> decoded;
    if (!platform::Base64Decode(text.data(), text.size(), decoded)) std::abort();
    const auto payload = nlohmann::json::parse(decoded.begin(), decoded.end());
    const std::string key = payload["solution"]["derivedKey"];
    std::string prefix = payload["challenge"]["parameters"]["keyPrefix"];
    for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key.compare(0, prefix.size(), prefix) != 0) std::abort();
  }
  return 0;
}
