// --challenge and --verify, through the proof-of-work class's members.
#include <string>

#include "cli/output.h"
#include "cli/runs.h"
#include "component/work/work.h"
#include "platform/text.h"

namespace cli {

namespace {

// The class with the options' secret, store, cost and expiry; false (with a message) when refused.
bool Configure(const Options& o, vexorin::WorkComponent& work) {
  if (o.secret != nullptr) {
    platform::unique_bstr text(platform::MakeBstrNothrow(o.secret));
    const HRESULT hr = work.put_Secret(text.get());
    if (FAILED(hr)) {
      Failed("setting the secret", hr);
      return false;
    }
  }
  if (o.store != nullptr) {
    platform::unique_bstr url(platform::MakeBstrNothrow(o.store));
    const HRESULT hr = work.put_Store(url.get());
    if (FAILED(hr)) {
      Failed("setting the store", hr, work.Failure());
      return false;
    }
  }
  if (o.cost != 0) work.put_Cost(static_cast<LONG>(o.cost));
  if (o.expires != 0) work.put_Expires(static_cast<LONG>(o.expires));
  if (o.maxCost != 0) work.put_MaxCost(static_cast<LONG>(o.maxCost));
  return true;
}

}  // namespace

int PrintChallenge(const Options& o) {
  vexorin::WorkComponent work;
  if (!Configure(o, work)) return 1;
  platform::unique_bstr bind(platform::MakeBstrNothrow(o.bind));
  platform::unique_bstr client(platform::MakeBstrNothrow(o.client));
  platform::unique_bstr json;
  const HRESULT hr = work.CreateChallenge(bind.get(), client.get(), json.put());
  if (FAILED(hr)) return Failed("CreateChallenge", hr, work.Failure());
  std::string text;
  platform::NarrowFromWide(json.get(), text);
  return PrintLine(Stream::kOut, text) ? 0 : 1;
}

int CheckPayload(const Options& o) {
  vexorin::WorkComponent work;
  if (!Configure(o, work)) return 1;
  platform::unique_bstr bind(platform::MakeBstrNothrow(o.bind));
  platform::unique_bstr payload(platform::MakeBstrNothrow(o.payload));
  VARIANT_BOOL verified = VARIANT_FALSE;
  HRESULT hr = work.Verify(payload.get(), bind.get(), &verified);
  if (FAILED(hr)) return Failed("Verify", hr, work.Failure());
  platform::unique_bstr reason;
  hr = work.get_Reason(reason.put());
  if (FAILED(hr)) return Failed("reading the reason", hr);
  std::string text;
  platform::NarrowFromWide(reason.get(), text);
  const bool printed = PrintLine(Stream::kOut, text);
  return printed && verified == VARIANT_TRUE ? 0 : 1;
}

}  // namespace cli
