// The price of a challenge under request patterns, with a clock the test controls: what a person,
// a client that keeps asking and a flood of clients are asked, how it falls back, and its bounds.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/altcha_json.h"
#include "component/work/work.h"
#include "tests/shared/work_support.h"

namespace {

using nlohmann::json;
using vexorin::kMinWorkCost;
using vexorin::WorkComponent;
using vexorin::WorkOutcome;
using vexorin::WorkSettings;
using vexorin::WorkState;

std::int64_t now = 1800000000;
std::int64_t Clock() { return now; }

WorkSettings Settings() {
  WorkSettings settings;
  settings.clock = &Clock;
  settings.budget = 1u << 20;
  return settings;
}

// The attempts a price in Cost's units asks at 1,250 iterations an attempt.
std::int64_t Attempts(std::int64_t price) { return (price * 256 + 1249) / 1250; }

class PricingTest : public testing::Test {
 protected:
  PricingTest() : state_(Settings()), work_(&state_) {
    now = 1800000000;
    EXPECT_EQ(work_.SetSecret("pricing"), S_OK);
    EXPECT_EQ(work_.put_Cost(kMinWorkCost), S_OK);
    EXPECT_EQ(work_.put_MaxCost(kMinWorkCost * 64), S_OK);
  }
  std::string Challenge(const std::string& client) {
    std::string text;
    EXPECT_EQ(work_.CreateChallenge("", client, text), S_OK);
    return text;
  }
  // The attempts a new challenge for `client` asks.
  std::int64_t Cost(const std::string& client) { return AttemptsOf(Challenge(client)); }
  static std::int64_t AttemptsOf(const std::string& challenge) {
    const json p = json::parse(challenge)["parameters"];
    EXPECT_EQ(p["cost"], vexorin::kWorkAttemptCost);
    return p["data"]["attempts"];
  }
  json Statistics() { return json::parse(work_.Statistics()); }
  WorkState state_;
  WorkComponent work_;
};

TEST(ClientGroup, Ipv6ByItsSlash64AndIpv4Whole) {
  const char* cases[][2] = {
      {"192.0.2.7", "192.0.2.7"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:DB8:1:2::9", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::9", "2001:db8:1:3::/64"},
      {"fe80::1%eth0", "fe80:0:0:0::/64"},
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"::", "0:0:0:0::/64"},
      {"2001:db8::1:2:3:4:5", "2001:db8:0:1::/64"},
      {"2001:::1", "2001:::1"},                      // no address: taken as given
      {"1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8:9"},
      {"Proxy-Name", "proxy-name"},
  };
  for (const auto& c : cases) EXPECT_EQ(vexorin::ClientGroup(c[0]), c[1]) << c[0];
}

// One client asking again and again within a second: the first eight at Cost, then doubling with
// each doubling of its count, to MaxCost; a raised challenge still verifies.
TEST_F(PricingTest, AClientThatKeepsAskingPaysMore) {
  struct Step { int upTo; std::int64_t cost; };
  const Step steps[] = {{8, 100}, {16, 200}, {32, 400}, {64, 800}, {128, 1600}, {256, 3200}, {400, 6400}};
  int asked = 0;
  std::string raised;
  for (const Step& s : steps) {
    for (; asked < s.upTo; ++asked) {
      const std::string challenge = Challenge("198.51.100.9");
      ASSERT_EQ(AttemptsOf(challenge), Attempts(s.cost)) << "challenge " << asked + 1;
      if (s.cost == 400) raised = challenge;
    }
  }
  EXPECT_EQ(Cost("198.51.100.10"), Attempts(100)) << "a neighbour pays the base";
  EXPECT_EQ(Cost("2001:db8:5:6::1"), Attempts(100));
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(raised));
  WorkOutcome outcome = WorkOutcome::kNone;
  ASSERT_EQ(work_.Verify(payload.data(), payload.size(), "", outcome), S_OK);
  EXPECT_EQ(outcome, WorkOutcome::kVerified);
  EXPECT_EQ(Statistics()["highestCostLastMinute"], 6400);
}

// A burst, then quiet: the count halves every minute, and the price with it.
TEST_F(PricingTest, ThePriceFallsBackAsTheClientGoesQuiet) {
  for (int i = 0; i < 64; ++i) Challenge("203.0.113.5");
  EXPECT_EQ(Cost("203.0.113.5"), Attempts(1600));  // the 65th
  now += 60;  // 65 halved to 32.5, plus this one
  EXPECT_EQ(Cost("203.0.113.5"), Attempts(800));
  now += 600;
  EXPECT_EQ(Cost("203.0.113.5"), Attempts(100));
  // One /64 is one client: a source hopping within its network gains nothing.
  for (int i = 0; i < 40; ++i) Challenge("2001:db8:7:8::" + std::to_string(i + 1));
  EXPECT_EQ(Cost("2001:db8:7:8:ffff::1"), Attempts(800));
}

// Requests cost a sender nothing, so they raise nobody's price: thousands of clients asking once
// leave a newcomer at the base. Verified solutions are paid work: past the process's normal rate
// everyone pays a level more, and the levels fall back when the flood ends.
TEST_F(PricingTest, OnlyPaidWorkRaisesTheProcessLevel) {
  for (int i = 0; i < 4000; ++i) {
    ASSERT_EQ(Cost("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1"), Attempts(100)) << i;
  }
  EXPECT_EQ(Cost("192.0.2.200"), Attempts(100));
  json stats = Statistics();
  EXPECT_EQ(stats["level"], 0);
  EXPECT_EQ(stats["clients"], 4001);
  EXPECT_EQ(stats["challenges"], 4001);
  for (int i = 0; i < 866; ++i) state_.pricing.CountVerified(now);
  EXPECT_EQ(Cost("192.0.2.1"), Attempts(100));
  state_.pricing.CountVerified(now);  // 867 > 866: level 1
  EXPECT_EQ(Cost("192.0.2.2"), Attempts(200));
  for (int i = 0; i < 866; ++i) state_.pricing.CountVerified(now);
  EXPECT_EQ(Cost("192.0.2.3"), Attempts(400));  // past twice the normal count: level 2
  EXPECT_EQ(Statistics()["level"], 2);
  now += 600;
  EXPECT_EQ(Cost("192.0.2.4"), Attempts(100));
  EXPECT_EQ(Statistics()["level"], 0);
}

// More clients than the table holds: its memory stays flat and a forgotten client's count starts
// again from one, so forgetting only ever lowers a price.
TEST(ClientCounts, BoundedForgettingTheLeastRecentlySeen) {
  vexorin::ClientCounts counts(1000);
  for (std::uint64_t k = 1; k <= 1000; ++k) counts.Add(k * 0x9E3779B97F4A7C15ull, 0);
  const std::size_t full = counts.MemoryBytes();
  EXPECT_EQ(counts.Add(1 * 0x9E3779B97F4A7C15ull, 0), 2);  // client 1 seen again: now the newest
  for (std::uint64_t k = 1001; k <= 5000; ++k) counts.Add(k * 0x9E3779B97F4A7C15ull, 0);
  EXPECT_EQ(counts.Size(), 1000u);
  EXPECT_EQ(counts.MemoryBytes(), full);
  EXPECT_LE(full / 1000, 64u) << "bytes a client";
  EXPECT_EQ(counts.Add(2 * 0x9E3779B97F4A7C15ull, 0), 1);     // forgotten long ago
  EXPECT_EQ(counts.Add(5000 * 0x9E3779B97F4A7C15ull, 0), 2);  // still there
}

// The counters a status page reads: challenges made and each outcome of Verify.
TEST_F(PricingTest, StatisticsCountWhatHappened) {
  const std::string first = Challenge("192.0.2.1");
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(first));
  WorkOutcome outcome = WorkOutcome::kNone;
  for (const char* text : {payload.c_str(), payload.c_str(), "!!!!"}) {
    ASSERT_EQ(work_.Verify(text, std::string(text).size(), "", outcome), S_OK);
  }
  const json stats = Statistics();
  EXPECT_EQ(stats["challenges"], 1);
  EXPECT_EQ(stats["verify"]["verified"], 1);
  EXPECT_EQ(stats["verify"]["replayed"], 1);
  EXPECT_EQ(stats["verify"]["malformed"], 1);
  EXPECT_EQ(stats["verify"]["invalid solution"], 0);
  EXPECT_EQ(stats["derivations"], 1);
  EXPECT_EQ(stats["clients"], 1);
  EXPECT_EQ(stats["level"], 0);
  EXPECT_EQ(stats["highestCostLastMinute"], 100);
  now += 61;
  EXPECT_EQ(Statistics()["highestCostLastMinute"], 0);
}

}  // namespace
