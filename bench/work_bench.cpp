// The proof of work's server-side cost: CreateChallenge, and Verify of a solved payload at the
// default cost, against a floor measured in the same run: one bare PBKDF2 of the default cost and
// one HMAC, the least any check of a solution must do. Then what a flood meets: a wrong solution
// sent again (refused before any derivation), and the ledger at its cap (time per new entry, and
// memory per entry as counters).
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/shared/work_support.h"

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

// One signed challenge with any derived key, again and again: what one client's retries cost.
void BM_RetriedWrongSolution(benchmark::State& state) {
  vexorin::WorkLedger ledger;
  vexorin::WorkComponent work(&ledger);
  work.SetSecret("bench");
  work.put_Cost(vexorin::kDefaultWorkCost);
  std::string challenge;
  work.Challenge("session", challenge);
  const auto parsed = nlohmann::json::parse(challenge);
  const nlohmann::json wrong = {{"challenge", parsed}, {"solution", {{"counter", 1}, {"derivedKey", std::string(64, 'f')}}}};
  const std::string payload = testing_support::PayloadOf(wrong);
  vexorin::WorkOutcome outcome = vexorin::WorkOutcome::kNone;
  work.Check(payload.data(), payload.size(), "session", outcome);  // the one derivation
  for (auto _ : state) {
    work.Check(payload.data(), payload.size(), "session", outcome);
    if (outcome != vexorin::WorkOutcome::kAlreadyChecked) state.SkipWithError("not refused as already checked");
  }
  state.counters["derivations"] = static_cast<double>(ledger.Derivations());
}

// A new challenge admitted and remembered as verified with both sets of the ledger full.
void BM_LedgerAtCap(benchmark::State& state) {
  vexorin::WorkLedger ledger;
  const std::int64_t now = 1800000000, expiresAt = now + vexorin::kDefaultWorkExpires;
  std::uint64_t next = 0;
  auto tag = [&next] {
    vexorin::WorkTag t{};
    const std::uint64_t mixed = (++next) * 0x9E3779B97F4A7C15ull;  // spread as a keyed digest would be
    for (int i = 0; i < 8; ++i) t[static_cast<std::size_t>(i)] = static_cast<unsigned char>(mixed >> (8 * i));
    for (int i = 0; i < 8; ++i) t[static_cast<std::size_t>(8 + i)] = static_cast<unsigned char>(next >> (8 * i));
    return t;
  };
  for (std::size_t i = 0; i < vexorin::kReplayCapacity; ++i) {
    const vexorin::WorkTag t = tag();
    ledger.Admit(t, expiresAt, now);
    ledger.RememberVerified(t, expiresAt, now);
  }
  for (auto _ : state) {
    const vexorin::WorkTag t = tag();
    if (ledger.Admit(t, expiresAt, now) != vexorin::WorkLedger::Admission::kAdmitted ||
        !ledger.RememberVerified(t, expiresAt, now)) {
      state.SkipWithError("a new challenge was refused");
    }
  }
  const double entries = static_cast<double>(vexorin::kReplayCapacity + vexorin::kCheckedCapacity);
  state.counters["entries"] = entries;
  state.counters["MiB"] = static_cast<double>(ledger.MemoryBytes()) / (1 << 20);
  state.counters["bytes_per_entry"] = static_cast<double>(ledger.MemoryBytes()) / entries;
}

// CreateChallenge for a new client each time with the client table at its cap: the price's cost.
void BM_CreateChallengeClientsAtCap(benchmark::State& state) {
  vexorin::WorkLedger ledger;
  vexorin::WorkComponent work(&ledger);
  work.SetSecret("bench");
  std::string challenge;
  std::uint32_t next = 0;
  auto address = [&next] {
    ++next;
    return std::to_string(next >> 24) + "." + std::to_string(next >> 16 & 255) + "." + std::to_string(next >> 8 & 255) +
           "." + std::to_string(next & 255);
  };
  for (std::size_t i = 0; i < vexorin::kClientCapacity; ++i) work.Challenge("session", address(), challenge);
  const std::size_t before = ledger.MemoryBytes();
  for (auto _ : state) {
    if (FAILED(work.Challenge("session", address(), challenge))) state.SkipWithError("CreateChallenge failed");
  }
  state.counters["clients"] = static_cast<double>(vexorin::kClientCapacity);
  state.counters["bytes_per_client"] = static_cast<double>(before) / static_cast<double>(vexorin::kClientCapacity);
  state.counters["grew_bytes"] = static_cast<double>(ledger.MemoryBytes() - before);
}

}  // namespace

BENCHMARK(BM_CreateChallengeClientsAtCap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RetriedWrongSolution)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LedgerAtCap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorPbkdf2AndHmac)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateChallenge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
