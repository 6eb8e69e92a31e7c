// What a program pays per submission: challenges of the component at a Cost solved natively with
// OpenSSL's PBKDF2 on every core (interleaved counters from 0, as the widget's workers split them),
// the fastest a client short of special hardware can be. Prints the median and 90th percentile.
// usage: work_attack [cost] [challenges] [threads]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "component/work/work.h"
#include "platform/crypto.h"
#include "tests/shared/work_support.h"

int main(int argc, char** argv) {
  const long cost = argc > 1 ? std::atol(argv[1]) : vexorin::kDefaultWorkCost;
  const int count = argc > 2 ? std::atoi(argv[2]) : 20;
  const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : std::max(1u, std::thread::hardware_concurrency());
  vexorin::WorkComponent work;
  work.SetSecret("attack");
  if (FAILED(work.put_Cost(static_cast<LONG>(cost)))) return 2;
  std::vector<double> seconds;
  long long attempts = 0;
  for (int i = 0; i < count; ++i) {
    std::string challenge;
    work.CreateChallenge("", challenge);
    const auto parameters = nlohmann::json::parse(challenge).at("parameters");
    const auto nonce = testing_support::BytesOfHex(parameters.at("nonce"));
    const auto salt = testing_support::BytesOfHex(parameters.at("salt"));
    const auto iterations = parameters.at("cost").get<unsigned long>();
    const std::string prefix = parameters.at("keyPrefix");
    std::atomic<long long> found{-1};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        std::vector<unsigned char> password = nonce;
        password.resize(nonce.size() + 4);
        unsigned char key[32];
        for (std::uint32_t counter = t; found.load() < 0; counter += threads) {
          for (int b = 0; b < 4; ++b) password[nonce.size() + b] = static_cast<unsigned char>(counter >> (24 - 8 * b));
          platform::Pbkdf2Sha256(password.data(), password.size(), salt.data(), salt.size(), iterations, key,
                                 sizeof key);
          if (testing_support::HexOf(key, sizeof key).compare(0, prefix.size(), prefix) == 0) {
            long long expected = -1;
            found.compare_exchange_strong(expected, counter);
          }
        }
      });
    }
    for (auto& t : pool) t.join();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    attempts += found.load() + 1;
    const auto payload = testing_support::Solve(challenge, static_cast<std::uint32_t>(found.load()), 1);
    const std::string text = testing_support::PayloadOf(payload);
    vexorin::WorkOutcome outcome = vexorin::WorkOutcome::kNone;
    if (FAILED(work.Verify(text.data(), text.size(), "", outcome)) || outcome != vexorin::WorkOutcome::kVerified) {
      std::fprintf(stderr, "work_attack: a solution was not verified\n");
      return 1;
    }
  }
  std::vector<double> sorted = seconds;
  std::sort(sorted.begin(), sorted.end());
  double total = 0;
  for (double s : seconds) total += s;
  std::printf("cost %ld, %d challenges, %u threads: median %.3f s, p90 %.3f s, mean %.3f s, %.1f attempts a challenge,"
              " %.0f us an attempt (all threads)\n",
              cost, count, threads, sorted[sorted.size() / 2], sorted[(sorted.size() * 9) / 10 - (sorted.size() >= 10 ? 1 : 0)],
              total / count, static_cast<double>(attempts) / count, total / static_cast<double>(attempts) * 1e6);
  return 0;
}
