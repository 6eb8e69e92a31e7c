// Time per call through the vtable, and by name through IDispatch, from C++: the counterpart of
// scripts/calls.vbs. Needs the DLL registered. GetAudio against the floor of audio_bench (the
// digits' clips pasted into a WAV in a byte array), measured in the same process. The proof of work's
// CreateChallenge, and Verify of fresh payloads at the default cost against one bare PBKDF2 of
// that cost from bcrypt.dll.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "component/audio/audio.h"
#include "component/audio/voice.h"
#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/shared/work_support.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "vexorin_h.h"

namespace {

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename Call>
double Time(const char* what, int n, Call call) {
  const double start = Now();
  for (int i = 0; i < n; ++i) call();
  const double us = (Now() - start) * 1e6 / n;
  std::printf("%-30s %10.2f us/call\n", what, us);
  return us;
}

void PasteClips(const char* number) {
  std::vector<std::int16_t> samples;
  for (const char* d = number; *d != '\0'; ++d) {
    const auto& clip = vexorin::kVoiceClips[*d - '0'];
    samples.insert(samples.end(), clip.samples, clip.samples + clip.count);
    samples.resize(samples.size() + 6800, 0);
  }
  const std::vector<unsigned char> wav = vexorin::WavFile(samples);
  SAFEARRAYBOUND bound = {static_cast<ULONG>(wav.size()), 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  std::memcpy(data, wav.data(), wav.size());
  SafeArrayUnaccessData(array);
  SafeArrayDestroy(array);
}

void AudioCalls() {
  IVexorinAudio* a = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                              reinterpret_cast<void**>(&a)))) {
    std::fprintf(stderr, "the audio class is not registered\n");
    return;
  }
  BSTR digits = SysAllocString(L"480613");
  a->put_Number(digits);
  SysFreeString(digits);
  const int n = 100;
  const double floor = Time("floor: 6 clips pasted", n, [] { PasteClips("480613"); });
  for (LONG noise : {LONG{0}, vexorin::kDefaultAudioNoise}) {
    a->put_Noise(noise);
    const std::string what = "vtable GetAudio, Noise " + std::to_string(noise);
    const double t = Time(what.c_str(), n, [&] {
      VARIANT sound;
      VariantInit(&sound);
      a->GetAudio(&sound);
      VariantClear(&sound);
    });
    std::printf("%-30s %10.3f\n", "  ratio to the floor", t / floor);
  }
  a->Release();
}

void WorkCalls() {
  IVexorinWork* w = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CVexorinWork, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinWork,
                              reinterpret_cast<void**>(&w)))) {
    std::fprintf(stderr, "the proof-of-work class is not registered\n");
    return;
  }
  BSTR binding = SysAllocString(L"session");
  Time("vtable CreateChallenge", 1000, [&] {
    BSTR challenge = nullptr;
    w->CreateChallenge(binding, nullptr, &challenge);
    SysFreeString(challenge);
  });
  // Fresh payloads, each verified once: a second Verify of one would be the cheap replay refusal.
  const int n = 8;
  std::vector<BSTR> payloads;
  for (int i = 0; i < n; ++i) {
    BSTR challenge = nullptr;
    w->CreateChallenge(binding, nullptr, &challenge);
    std::string text;
    platform::Utf8FromUtf16(challenge, SysStringLen(challenge), text);
    SysFreeString(challenge);
    const std::string payload = testing_support::PayloadOf(testing_support::Solve(text));
    payloads.push_back(SysAllocString(std::wstring(payload.begin(), payload.end()).c_str()));
  }
  unsigned char password[20] = {1}, salt[16] = {2}, key[32];
  const double floor = Time("floor: PBKDF2 at the default cost", n, [&] {
    platform::Pbkdf2Sha256(password, sizeof password, salt, sizeof salt, vexorin::kDefaultWorkCost, key, sizeof key);
  });
  int next = 0, verified = 0;
  const double t = Time("vtable Verify (fresh payloads)", n, [&] {
    VARIANT_BOOL ok = VARIANT_FALSE;
    w->Verify(payloads[next++], binding, &ok);
    if (ok == VARIANT_TRUE) ++verified;
  });
  std::printf("%-30s %10.3f (%d of %d verified)\n", "  ratio to the floor", t / floor, verified, n);
  for (BSTR p : payloads) SysFreeString(p);
  SysFreeString(binding);
  w->Release();
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  IVexorin* v = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(&v)))) {
    std::fprintf(stderr, "the component is not registered\n");
    return 1;
  }
  const int n = 3000;
  Time("vtable Number get", n, [&] {
    BSTR s = nullptr;
    v->get_Number(&s);
    SysFreeString(s);
  });
  Time("vtable GenerateRnd", n, [&] {
    LONG x = 0;
    v->GenerateRnd(8, &x);
  });
  Time("vtable GetImage", n, [&] {
    VARIANT image;
    VariantInit(&image);
    v->GetImage(&image);
    VariantClear(&image);
  });
  DISPID id = 0;
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"Number")};
  Time("IDispatch Number get by name", n, [&] {
    v->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    v->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    VariantClear(&result);
  });
  v->Release();
  AudioCalls();
  WorkCalls();
  CoUninitialize();
  return 0;
}
