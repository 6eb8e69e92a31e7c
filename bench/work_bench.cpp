// The proof of work's server-side cost, against a floor measured in the same run: one bare PBKDF2
// at 20,000 iterations (what every check cost before the server knew the answer). Then a wrong
// solution's check, a genuine one's, a challenge at the base price and at MaxCost, challenges made
// by one and two threads at once, a genuine visitor's check while 8 and 64 threads send garbage,
// and the ledger and the client table at their caps (time per new entry, memory as counters).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/shared/work_support.h"

namespace {

using vexorin::WorkComponent;
using vexorin::WorkOutcome;

void BM_FloorDerivation20000(benchmark::State& state) {
  unsigned char password[20] = {1}, salt[16] = {2}, key[32];
  for (auto _ : state) {
    platform::Pbkdf2Sha256(password, sizeof password, salt, sizeof salt, 20000, key, sizeof key);
    benchmark::DoNotOptimize(key);
  }
}

std::string Made(WorkComponent& work, const std::string& client = "") {
  std::string challenge;
  if (FAILED(work.CreateChallenge("session", client, challenge))) return "";
  return challenge;
}

// A fresh challenge and a made-up key: what a garbage sender's two requests cost the server.
std::string Garbage(WorkComponent& work) {
  const std::string made = Made(work);
  if (made.empty()) return "";
  const nlohmann::json payload = {{"challenge", nlohmann::json::parse(made)},
                                  {"solution", {{"counter", 1}, {"derivedKey", std::string(64, 'f')}}}};
  return testing_support::PayloadOf(payload);
}

void BM_VerifyWrongSolution(benchmark::State& state) {
  WorkComponent work;
  work.SetSecret("bench");
  const std::string payload = Garbage(work);
  WorkOutcome outcome = WorkOutcome::kNone;
  for (auto _ : state) {
    work.Verify(payload.data(), payload.size(), "session", outcome);
    if (outcome != WorkOutcome::kInvalidSolution) state.SkipWithError("not refused as an invalid solution");
  }
}

void BM_VerifyGenuine(benchmark::State& state) {
  vexorin::WorkState shared;
  WorkComponent maker(&shared);
  maker.SetSecret("bench");
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(Made(maker)));
  for (auto _ : state) {
    state.PauseTiming();
    auto* fresh = new vexorin::WorkState;  // the payload is new to it
    WorkComponent work(fresh);
    work.SetSecret("bench");
    WorkOutcome outcome = WorkOutcome::kNone;
    state.ResumeTiming();
    if (FAILED(work.Verify(payload.data(), payload.size(), "session", outcome)) || outcome != WorkOutcome::kVerified) {
      state.SkipWithError("not verified");
    }
    state.PauseTiming();
    delete fresh;
    state.ResumeTiming();
  }
}

// A state whose every challenge carries a derivation (no budget reached): the counter form's cost.
vexorin::WorkSettings Unbudgeted() {
  vexorin::WorkSettings settings;
  settings.budget = 1u << 23;
  return settings;
}

// A challenge at Cost = range(0): the same one small derivation at every price.
void BM_Challenge(benchmark::State& state) {
  vexorin::WorkState shared(Unbudgeted());
  WorkComponent work(&shared);
  work.SetSecret("bench");
  work.put_Cost(static_cast<LONG>(state.range(0)));
  for (auto _ : state) {
    if (Made(work).empty()) state.SkipWithError("CreateChallenge failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// Past the budget: the prefix form, nothing derived.
void BM_ChallengePrefixForm(benchmark::State& state) {
  vexorin::WorkSettings settings;
  settings.budget = 1;
  vexorin::WorkState shared(settings);
  WorkComponent work(&shared);
  work.SetSecret("bench");
  for (auto _ : state) {
    if (Made(work).empty()) state.SkipWithError("CreateChallenge failed");
  }
}

// Challenges made by one and by two threads at once, each its own object over one shared state.
vexorin::WorkState threadsState(Unbudgeted());
void BM_ChallengeThreads(benchmark::State& state) {
  WorkComponent work(&threadsState);
  work.SetSecret("bench");
  for (auto _ : state) {
    if (Made(work).empty()) state.SkipWithError("CreateChallenge failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// A genuine visitor's check while range(0) threads send garbage: fresh challenges with made-up keys
// (past the budget in the prefix form, whose checks queue for a derivation).
void BM_VisitorUnderGarbage(benchmark::State& state) {
  vexorin::WorkState shared;
  WorkComponent maker(&shared);
  maker.SetSecret("bench");
  std::vector<std::string> genuine;
  for (int i = 0; i < 40; ++i) genuine.push_back(testing_support::PayloadOf(testing_support::Solve(Made(maker))));
  std::atomic<bool> stop{false};
  std::vector<std::thread> flood;
  for (long t = 0; t < state.range(0); ++t) {
    flood.emplace_back([&] {
      WorkComponent sender(&shared);
      sender.SetSecret("bench");
      WorkOutcome outcome;
      while (!stop.load()) {
        const std::string payload = Garbage(sender);
        sender.Verify(payload.data(), payload.size(), "session", outcome);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::size_t next = 0;
  double worst = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    WorkComponent visitor(&shared);
    visitor.SetSecret("bench");
    WorkOutcome outcome = WorkOutcome::kNone;
    const std::string& payload = genuine[next++ % genuine.size()];
    visitor.Verify(payload.data(), payload.size(), "session", outcome);
    if (next <= genuine.size() && outcome != WorkOutcome::kVerified) state.SkipWithError("not verified");
    worst = std::max(worst, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["worst_us"] = worst;
  stop = true;
  for (auto& t : flood) t.join();
  state.counters["garbage_checks"] = static_cast<double>(shared.Outcomes(static_cast<int>(WorkOutcome::kInvalidSolution)));
  state.counters["busy"] = static_cast<double>(shared.Outcomes(static_cast<int>(WorkOutcome::kBusy)));
}

// A new challenge remembered as verified with the replay set full.
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
  for (std::size_t i = 0; i < vexorin::kReplayCapacity; ++i) ledger.RememberVerified(tag(), expiresAt, now);
  for (std::size_t i = 0; i < vexorin::kCheckedCapacity; ++i) ledger.AdmitCheck(tag(), expiresAt, now);
  for (auto _ : state) {
    if (!ledger.RememberVerified(tag(), expiresAt, now)) state.SkipWithError("a new challenge was refused");
  }
  const double entries = static_cast<double>(vexorin::kReplayCapacity + vexorin::kCheckedCapacity);
  state.counters["entries"] = entries;
  state.counters["MiB"] = static_cast<double>(ledger.MemoryBytes()) / (1 << 20);
  state.counters["bytes_per_entry"] = static_cast<double>(ledger.MemoryBytes()) / entries;
}

// A challenge for a new client each time with the client table at its cap: the price's cost.
void BM_ChallengeClientsAtCap(benchmark::State& state) {
  vexorin::WorkState shared;
  WorkComponent work(&shared);
  work.SetSecret("bench");
  std::uint32_t next = 0;
  auto address = [&next] {
    ++next;
    return std::to_string(next >> 24) + "." + std::to_string(next >> 16 & 255) + "." + std::to_string(next >> 8 & 255) +
           "." + std::to_string(next & 255);
  };
  for (std::size_t i = 0; i < vexorin::kClientCapacity; ++i) Made(work, address());
  const std::size_t before = shared.pricing.MemoryBytes();
  for (auto _ : state) {
    if (Made(work, address()).empty()) state.SkipWithError("CreateChallenge failed");
  }
  state.counters["clients"] = static_cast<double>(vexorin::kClientCapacity);
  state.counters["bytes_per_client"] = static_cast<double>(before) / static_cast<double>(vexorin::kClientCapacity);
  state.counters["grew_bytes"] = static_cast<double>(shared.pricing.MemoryBytes() - before);
}

}  // namespace

BENCHMARK(BM_FloorDerivation20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyWrongSolution)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyGenuine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Challenge)->Arg(vexorin::kDefaultWorkCost)->Arg(vexorin::kDefaultWorkMaxCost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChallengePrefixForm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChallengeThreads)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VisitorUnderGarbage)->Arg(0)->Arg(8)->Arg(64)->Iterations(40)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LedgerAtCap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChallengeClientsAtCap)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
