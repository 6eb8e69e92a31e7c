// Time per call through the vtable, and by name through IDispatch, from C++: the counterpart of
// scripts/calls.vbs. Needs the DLL registered. GetAudio against the floor of audio_bench (the
// digits' clips pasted into a WAV in a byte array), measured in the same process. The proof of work
// against one bare PBKDF2 at 20,000 iterations from bcrypt.dll (what every check cost before the
// server knew the answer): CreateChallenge at the base price and at MaxCost, by one and two
// threads, a made-up key's Verify and a genuine one's, and a visitor's Verify under a flood.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
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

IVexorinWork* CreateWork() {
  IVexorinWork* w = nullptr;
  if (FAILED(CoCreateInstance(CLSID_CVexorinWork, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinWork,
                              reinterpret_cast<void**>(&w)))) {
    return nullptr;
  }
  return w;
}

std::string Utf8Of(BSTR text) {
  std::string out;
  platform::Utf8FromUtf16(text, SysStringLen(text), out);
  return out;
}

BSTR WideOf(const std::string& ascii) { return SysAllocString(std::wstring(ascii.begin(), ascii.end()).c_str()); }

// A fresh challenge with a made-up key: what a garbage sender's two requests ask of the server.
BSTR Garbage(IVexorinWork* w, BSTR binding) {
  BSTR challenge = nullptr;
  w->CreateChallenge(binding, nullptr, &challenge);
  const nlohmann::json payload = {{"challenge", nlohmann::json::parse(Utf8Of(challenge))},
                                  {"solution", {{"counter", 1}, {"derivedKey", std::string(64, 'f')}}}};
  SysFreeString(challenge);
  return WideOf(testing_support::PayloadOf(payload));
}

// Challenges within the budget of derivations a second (so each carries its derivation), made by
// `threads` threads at once, 100 a second in all for `seconds` seconds: the wall time a challenge.
double PacedChallenges(int threads, int seconds) {
  double busy = 0;
  for (int second = 0; second < seconds; ++second) {
    const double start = Now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([threads] {
        CoInitialize(nullptr);
        IVexorinWork* w = CreateWork();
        BSTR binding = SysAllocString(L"session");
        for (int i = 0; i < 100 / threads; ++i) {
          BSTR challenge = nullptr;
          w->CreateChallenge(binding, nullptr, &challenge);
          SysFreeString(challenge);
        }
        SysFreeString(binding);
        w->Release();
        CoUninitialize();
      });
    }
    for (auto& t : pool) t.join();
    const double spent = Now() - start;
    busy += spent;
    if (spent < 1.0) Sleep(static_cast<DWORD>((1.0 - spent) * 1000) + 50);
  }
  return busy * 1e6 / (100.0 * seconds);
}

void WorkCalls() {
  IVexorinWork* w = CreateWork();
  if (w == nullptr) {
    std::fprintf(stderr, "the proof-of-work class is not registered\n");
    return;
  }
  BSTR binding = SysAllocString(L"session");
  unsigned char password[20] = {1}, salt[16] = {2}, key[32];
  const double floor = Time("floor: PBKDF2 at 20,000", 8, [&] {
    platform::Pbkdf2Sha256(password, sizeof password, salt, sizeof salt, 20000, key, sizeof key);
  });
  // Each carries its derivation; at the base price and at MaxCost the same small one.
  for (const LONG cost : {vexorin::kDefaultWorkCost, vexorin::kDefaultWorkMaxCost}) {
    w->put_Cost(cost);
    Sleep(1000);
    const double t = PacedChallenges(1, 3);
    std::printf("%-30s %10.2f us/call, %.3f of the floor (Cost %ld)\n", "vtable CreateChallenge", t, t / floor,
                static_cast<long>(cost));
  }
  w->put_Cost(vexorin::kDefaultWorkCost);
  const double one = PacedChallenges(1, 3), two = PacedChallenges(2, 3);
  std::printf("%-30s %10.2f us/call by one thread, %.2f by two: %.2f times as many\n", "  threads", one, two, one / two);
  BSTR statistics = nullptr;
  w->get_Statistics(&statistics);
  std::printf("  statistics: %s\n", Utf8Of(statistics).c_str());
  SysFreeString(statistics);
  Time("vtable CreateChallenge (any form)", 1000, [&] {
    BSTR challenge = nullptr;
    w->CreateChallenge(binding, nullptr, &challenge);
    SysFreeString(challenge);
  });
  // A wrong solution to a fresh challenge: refused by one HMAC.
  Sleep(1000);
  BSTR garbage = Garbage(w, binding);
  const double wrong = Time("vtable Verify (made-up key)", 1000, [&] {
    VARIANT_BOOL ok = VARIANT_FALSE;
    w->Verify(garbage, binding, &ok);
  });
  SysFreeString(garbage);
  std::printf("%-30s %10.4f\n", "  ratio to the floor", wrong / floor);
  // Fresh payloads, each verified once: a second Verify of one would be the cheap replay refusal.
  const int n = 40;
  std::vector<BSTR> payloads;
  Sleep(1000);
  for (int i = 0; i < n; ++i) {
    BSTR challenge = nullptr;
    w->CreateChallenge(binding, nullptr, &challenge);
    payloads.push_back(WideOf(testing_support::PayloadOf(testing_support::Solve(Utf8Of(challenge)))));
    SysFreeString(challenge);
  }
  int next = 0, verified = 0;
  const double t = Time("vtable Verify (fresh payloads)", 8, [&] {
    VARIANT_BOOL ok = VARIANT_FALSE;
    w->Verify(payloads[next++], binding, &ok);
    if (ok == VARIANT_TRUE) ++verified;
  });
  std::printf("%-30s %10.4f (%d of 8 verified)\n", "  ratio to the floor", t / floor, verified);
  // A genuine visitor's Verify while 8, then 64 threads send garbage.
  for (const int senders : {8, 64}) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> flood;
    for (int i = 0; i < senders; ++i) {
      flood.emplace_back([&stop, binding] {
        CoInitialize(nullptr);
        IVexorinWork* sender = CreateWork();
        while (!stop.load()) {
          BSTR payload = Garbage(sender, binding);
          VARIANT_BOOL ok = VARIANT_FALSE;
          sender->Verify(payload, binding, &ok);
          SysFreeString(payload);
        }
        sender->Release();
        CoUninitialize();
      });
    }
    Sleep(500);
    double worst = 0, total = 0;
    int ok = 0;
    for (int i = 0; i < 16; ++i) {
      const double start = Now();
      VARIANT_BOOL passed = VARIANT_FALSE;
      w->Verify(payloads[next++], binding, &passed);
      const double us = (Now() - start) * 1e6;
      if (passed == VARIANT_TRUE) ++ok;
      total += us;
      worst = std::max(worst, us);
    }
    stop = true;
    for (auto& f : flood) f.join();
    std::printf("%-30s %10.2f us/call, worst %.2f (%d of 16 verified) with %d garbage senders\n",
                "vtable Verify (a visitor)", total / 16, worst, ok, senders);
  }
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
