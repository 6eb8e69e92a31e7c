// What the farm's store adds to a verified payload: one SET NX PX round trip to the store named on
// the command line, against the floor of a check that stops at the process's own ledger (the
// payload parsed, its signature checked, its tag looked up), measured in the same run. Natively and,
// built for Windows, under Wine (hiredis's Windows networking).
//   usage: work_store_bench redis://[:password@]host:port[/db] [round trips (default 5000)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "component/work/work.h"
#include "component/work/work_store.h"
#include "tests/shared/work_support.h"

namespace {

double Micros(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void Report(const char* what, std::vector<double>& samples, double floor) {
  std::sort(samples.begin(), samples.end());
  const double median = samples[samples.size() / 2], p90 = samples[samples.size() * 9 / 10];
  std::printf("%-44s median %8.1f us  p90 %8.1f us  max %9.1f us", what, median, p90, samples.back());
  if (floor > 0) std::printf("  %6.1f x the floor", median / floor);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: work_store_bench URL [round trips]\n");
    return 2;
  }
  const int n = argc > 2 ? std::atoi(argv[2]) : 5000;
  std::string url = argv[1];
  url += url.find('?') == std::string::npos ? "?" : "&";
  url += "timeout=5000&prefix=bench" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ":";

  // The floor: a replayed payload's check, all of it in this process.
  vexorin::WorkState state;
  vexorin::WorkComponent work(&state);
  if (work.SetSecret("bench") != S_OK || work.put_Cost(vexorin::kMinWorkCost) != S_OK) return 1;
  std::string challenge;
  if (work.CreateChallenge("", challenge) != S_OK) return 1;
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(challenge));
  vexorin::WorkOutcome outcome;
  if (work.Verify(payload.data(), payload.size(), "", outcome) != S_OK || outcome != vexorin::WorkOutcome::kVerified) {
    std::fprintf(stderr, "work_store_bench: the payload did not verify\n");
    return 1;
  }
  std::vector<double> floor, trips, named;
  for (int i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work.Verify(payload.data(), payload.size(), "", outcome);
    floor.push_back(Micros(std::chrono::steady_clock::now() - start));
  }
  std::sort(floor.begin(), floor.end());
  const double floorMedian = floor[floor.size() / 2];

  std::shared_ptr<vexorin::WorkStore> store;
  if (vexorin::SharedStore(url, store) != S_OK) {
    std::fprintf(stderr, "work_store_bench: not a store URL\n");
    return 2;
  }
  vexorin::WorkKeys keys;
  if (vexorin::MakeWorkKeys("bench", 5, keys) != S_OK) return 1;
  bool added = false;
  std::string failure, name;
  if (store->AddIfAbsent(store->Prefix() + "warm", 60000, added, failure) != S_OK) {  // connects
    std::fprintf(stderr, "work_store_bench: %s\n", failure.c_str());
    return 1;
  }
  int refused = 0;
  for (int i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    vexorin::StoreKeyName(keys.signing, store->Prefix(), std::to_string(i), name);
    const auto named_at = std::chrono::steady_clock::now();
    if (store->AddIfAbsent(name, 60000, added, failure) != S_OK) {
      std::fprintf(stderr, "work_store_bench: %s\n", failure.c_str());
      return 1;
    }
    trips.push_back(Micros(std::chrono::steady_clock::now() - named_at));
    named.push_back(Micros(named_at - start));
    refused += added ? 0 : 1;
  }
  std::printf("%d round trips, keys expiring in 60 s; %d refused as present (expected 0)\n", n, refused);
  Report("floor: a replayed payload's check", floor, 0);
  Report("the store's key name (two HMACs)", named, floorMedian);
  Report("one SET NX PX round trip", trips, floorMedian);
  return refused == 0 ? 0 : 1;
}
