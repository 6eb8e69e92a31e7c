// The proof of work's server-side cost: CreateChallenge, and Verify of a solved payload at the
// default cost, against a floor measured in the same run: one bare PBKDF2 of the default cost and
// one HMAC, the least any check of a solution must do.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/work_support.h"

namespace {

void BM_FloorPbkdf2AndHmac(benchmark::State& state) {
  unsigned char password[20] = {1}, salt[16] = {2}, key[32], mac[32];
  for (auto _ : state) {
    platform::Pbkdf2Sha256(password, sizeof password, salt, sizeof salt, vexorin::kDefaultWorkCost, key, sizeof key);
    platform::HmacSha256(key, sizeof key, salt, sizeof salt, mac);
    benchmark::DoNotOptimize(mac);
  }
}

void BM_CreateChallenge(benchmark::State& state) {
  vexorin::WorkComponent work;
  work.SetSecret("bench");
  std::string challenge;
  for (auto _ : state) {
    if (FAILED(work.Challenge("session", challenge))) state.SkipWithError("CreateChallenge failed");
    benchmark::DoNotOptimize(challenge.data());
  }
}

void BM_Verify(benchmark::State& state) {
  vexorin::WorkComponent maker;
  maker.SetSecret("bench");
  std::string challenge;
  maker.Challenge("session", challenge);
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(challenge));
  for (auto _ : state) {
    state.PauseTiming();
    auto* ledger = new vexorin::WorkLedger(16, 16);  // a fresh ledger: the payload is new to it
    vexorin::WorkComponent work(ledger);
    work.SetSecret("bench");
    vexorin::WorkOutcome outcome = vexorin::WorkOutcome::kNone;
    state.ResumeTiming();
    if (FAILED(work.Check(payload.data(), payload.size(), "session", outcome)) ||
        outcome != vexorin::WorkOutcome::kVerified) {
      state.SkipWithError("not verified");
    }
    state.PauseTiming();
    delete ledger;
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(BM_FloorPbkdf2AndHmac)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateChallenge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
