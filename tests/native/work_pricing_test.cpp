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
using vexorin::WorkLedger;
using vexorin::WorkOutcome;

std::int64_t now = 1800000000;
std::int64_t Clock() { return now; }

class PricingTest : public testing::Test {
 protected:
  PricingTest() : work_(&ledger_, &Clock) {
    now = 1800000000;
    EXPECT_EQ(work_.SetSecret("pricing"), S_OK);
    EXPECT_EQ(work_.put_Cost(kMinWorkCost), S_OK);
    EXPECT_EQ(work_.put_MaxCost(kMinWorkCost * 64), S_OK);
  }
  std::string Challenge(const std::string& client) {
    std::string text;
    EXPECT_EQ(work_.Challenge("", client, text), S_OK);
    return text;
  }
  std::int64_t Cost(const std::string& client) { return json::parse(Challenge(client))["parameters"]["cost"]; }
  json Statistics() { return json::parse(work_.Statistics()); }
  WorkLedger ledger_;
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
      ASSERT_EQ(json::parse(challenge)["parameters"]["cost"], s.cost) << "challenge " << asked + 1;
      if (s.cost == 400) raised = challenge;
    }
  }
  EXPECT_EQ(Cost("198.51.100.10"), 100) << "a neighbour pays the base";
  EXPECT_EQ(Cost("2001:db8:5:6::1"), 100);
  const std::string payload = testing_support::PayloadOf(testing_support::Solve(raised));
  WorkOutcome outcome = WorkOutcome::kNone;
  ASSERT_EQ(work_.Check(payload.data(), payload.size(), "", outcome), S_OK);
  EXPECT_EQ(outcome, WorkOutcome::kVerified);
  EXPECT_EQ(Statistics()["highestCostLastMinute"], 6400);
}

// A burst, then quiet: the count halves every minute, and the price with it.
TEST_F(PricingTest, ThePriceFallsBackAsTheClientGoesQuiet) {
  for (int i = 0; i < 64; ++i) Challenge("203.0.113.5");
  EXPECT_EQ(Cost("203.0.113.5"), 1600);  // the 65th
  now += 60;  // 65 halved to 32.5, plus this one
  EXPECT_EQ(Cost("203.0.113.5"), 800);
  now += 600;
  EXPECT_EQ(Cost("203.0.113.5"), 100);
  // One /64 is one client: a source hopping within its network gains nothing.
  for (int i = 0; i < 40; ++i) Challenge("2001:db8:7:8::" + std::to_string(i + 1));
  EXPECT_EQ(Cost("2001:db8:7:8:ffff::1"), 800);
}

// Many clients each asking once pay the base until the process's own count passes its normal rate;
// then everyone pays a level more, and the levels fall back when the flood ends.
TEST_F(PricingTest, AFloodOfClientsRaisesTheProcessLevel) {
  std::vector<std::int64_t> costs;
  for (int i = 0; i < 2000; ++i) costs.push_back(Cost("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1"));
  EXPECT_EQ(costs[0], 100);
  EXPECT_EQ(costs[865], 100);
  EXPECT_EQ(costs[866], 200);   // count 867 > 866: level 1
  EXPECT_EQ(costs[1732], 400);  // past twice the normal count: level 2
  json stats = Statistics();
  EXPECT_EQ(stats["level"], 2);
  EXPECT_EQ(stats["clients"], 2000);
  EXPECT_EQ(stats["challenges"], 2000);
  now += 600;
  EXPECT_EQ(Cost("192.0.2.1"), 100);
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
    ASSERT_EQ(work_.Check(text, std::string(text).size(), "", outcome), S_OK);
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
