#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/altcha_json.h"
#include "component/work/work.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "tests/shared/test_support.h"
#include "tests/shared/work_support.h"

using nlohmann::json;
using testing_support::Base64Of;
using testing_support::Bstr;
using testing_support::HexOf;
using testing_support::Narrow;
using testing_support::PayloadOf;
using testing_support::Solve;
using vexorin::RecentTags;
using vexorin::WorkLedger;
using vexorin::WorkTag;
using vexorin::WorkComponent;
using vexorin::WorkOutcome;

namespace {

std::string Unhex(const char* hex) {
  std::string out;
  for (const unsigned char b : testing_support::BytesOfHex(hex)) out += static_cast<char>(b);
  return out;
}

// RFC 4231, test cases 1 to 4, 6 and 7 (5 truncates the output).
TEST(PlatformCrypto, HmacSha256MeetsRfc4231) {
  struct Case { std::string key, data; const char* mac; };
  const std::string aa131(131, '\xaa');
  const Case cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {Unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {aa131, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {aa131,
       "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
       "hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const Case& c : cases) {
    unsigned char mac[platform::kSha256Bytes];
    ASSERT_EQ(platform::HmacSha256(c.key.data(), c.key.size(), c.data.data(), c.data.size(), mac), S_OK);
    EXPECT_EQ(HexOf(mac, sizeof mac), c.mac) << c.data;
  }
}

// RFC 7914 section 11 and the widely published SHA-256 counterparts of RFC 6070's vectors.
TEST(PlatformCrypto, Pbkdf2Sha256MeetsPublishedVectors) {
  struct Case { const char* password; const char* salt; unsigned long iterations; std::size_t length; const char* key; };
  const Case cases[] = {
      {"passwd", "salt", 1, 64,
       "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc49ca9cccf179b645991664b39d77ef317c71b845b1e30bd5"
       "09112041d3a19783"},
      {"Password", "NaCl", 80000, 64,
       "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56a1d425a1225833549adb841b51c9b3176a272bdebba1d0"
       "78478f62b397f33c8d"},
      {"password", "salt", 1, 32, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
      {"password", "salt", 4096, 32, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> key(c.length);
    ASSERT_EQ(platform::Pbkdf2Sha256(c.password, std::strlen(c.password), c.salt, std::strlen(c.salt), c.iterations,
                                     key.data(), key.size()),
              S_OK);
    EXPECT_EQ(HexOf(key.data(), key.size()), c.key) << c.password << " " << c.iterations;
  }
}

TEST(PlatformCrypto, CompareAndBase64) {
  EXPECT_TRUE(platform::ConstantTimeEqual("abcd", "abcd", 4));
  EXPECT_FALSE(platform::ConstantTimeEqual("abcd", "abce", 4));
  EXPECT_FALSE(platform::ConstantTimeEqual("xbcd", "abcd", 4));
  // RFC 4648's vectors both ways.
  const char* vectors[][2] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& v : vectors) {
    EXPECT_EQ(Base64Of(v[0], std::strlen(v[0])), v[1]);
    std::vector<unsigned char> out;
    ASSERT_TRUE(platform::Base64Decode(v[1], std::strlen(v[1]), out)) << v[1];
    EXPECT_EQ(std::string(out.begin(), out.end()), v[0]);
  }
  // What the libraries would skip or guess at is refused.
  for (const std::string& bad : std::vector<std::string>{"Zm9", "Zm9v\n", " Zm9v", "Zm=v", "Z===", "====", "Zm9v====", "Zm9-", std::string("Zm\0v", 4)}) {
    std::vector<unsigned char> out;
    EXPECT_FALSE(platform::Base64Decode(bad.data(), bad.size(), out)) << bad;
  }
}

// What JSON.stringify writes for the same values, keys sorted.
TEST(WorkJson, CanonicalTextIsJavaScripts) {
  const char* cases[][2] = {
      {R"({"b":1,"a":{"d":"x","c":[1,2.0,-0.0]}})", R"({"a":{"c":[1,2,0],"d":"x"},"b":1})"},
      {R"({"s":"q\"b\\\/\u0001\n\t\u00e9\u2028"})", "{\"s\":\"q\\\"b\\\\/\\u0001\\n\\t\xc3\xa9\xe2\x80\xa8\"}"},
      {R"({"t":true,"f":false,"n":null,"big":4294967295})", R"({"big":4294967295,"f":false,"n":null,"t":true})"},
  };
  for (const auto& c : cases) {
    bool parsed = false;
    EXPECT_EQ(vexorin::CanonicalJson(c[0], parsed), c[1]);
    EXPECT_TRUE(parsed);
  }
}

// The challenge's text as UTF-8 whatever the code page (Narrow goes through it).
std::string Utf8(BSTR text) {
  std::string out;
  EXPECT_TRUE(platform::Utf8FromUtf16(text, SysStringLen(text), out));
  return out;
}

std::int64_t fakeNow = 1800000000;
std::int64_t FakeClock() { return fakeNow; }

// Counts the key derivations a check runs, or fails them as a platform without PBKDF2 would.
std::atomic<int> derivations{0};
bool failDerivations = false;
HRESULT CountedDerive(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                      unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept {
  ++derivations;
  if (failDerivations) return E_NOTIMPL;
  return platform::Pbkdf2Sha256(password, passwordSize, salt, saltSize, iterations, out, outSize);
}

class WorkTest : public testing::Test {
 protected:
  WorkTest() : ledger_(vexorin::kReplayCapacity, vexorin::kCheckedCapacity, 0, &CountedDerive), work_(&ledger_, &FakeClock) {
    fakeNow = 1800000000;
    derivations = 0;
    failDerivations = false;
    EXPECT_EQ(work_.SetSecret("test secret"), S_OK);
    EXPECT_EQ(work_.put_Cost(vexorin::kMinWorkCost), S_OK);
  }
  json Solved(const std::string& binding = "") { return Solved(work_, binding); }
  static json Solved(WorkComponent& maker, const std::string& binding) {
    std::string challenge;
    EXPECT_EQ(maker.Challenge(binding, challenge), S_OK);
    return Solve(challenge);
  }
  WorkOutcome Check(const std::string& payload, const std::string& binding = "") { return Check(work_, payload, binding); }
  static WorkOutcome Check(WorkComponent& work, const std::string& payload, const std::string& binding = "") {
    WorkOutcome outcome = WorkOutcome::kNone;
    EXPECT_EQ(work.Check(payload.data(), payload.size(), binding, outcome), S_OK);
    return outcome;
  }
  // Parameters signed with `secret` as a server holding it would.
  static json Signed(json parameters, const std::string& secret) {
    const std::string text = parameters.dump();
    unsigned char mac[platform::kSha256Bytes];
    EXPECT_EQ(platform::HmacSha256(secret.data(), secret.size(), text.data(), text.size(), mac), S_OK);
    return {{"parameters", parameters}, {"signature", HexOf(mac, sizeof mac)}};
  }
  WorkLedger ledger_;
  WorkComponent work_;
};

TEST_F(WorkTest, ChallengeHasAltchasFieldsAndSignature) {
  std::string text;
  ASSERT_EQ(work_.Challenge("session-1", text), S_OK);
  const json challenge = json::parse(text);
  const json& p = challenge.at("parameters");
  EXPECT_EQ(p.at("algorithm"), "PBKDF2/SHA-256");
  EXPECT_EQ(p.at("cost"), vexorin::kMinWorkCost);
  EXPECT_EQ(p.at("keyLength"), 32);
  EXPECT_EQ(p.at("keyPrefix"), "00");
  EXPECT_EQ(p.at("expiresAt"), fakeNow + vexorin::kDefaultWorkExpires);
  EXPECT_EQ(p.at("data"), json({{"session", "session-1"}}));
  EXPECT_EQ(p.at("nonce").get<std::string>().size(), 32u);
  EXPECT_EQ(p.at("salt").get<std::string>().size(), 32u);
  EXPECT_EQ(Signed(p, "test secret").at("signature"), challenge.at("signature"));
  std::string other;
  ASSERT_EQ(work_.Challenge("session-1", other), S_OK);
  EXPECT_NE(json::parse(other).at("parameters").at("nonce"), p.at("nonce"));
}

TEST_F(WorkTest, SolvedOnceVerifiesOnce) {
  const std::string payload = PayloadOf(Solved("abc"));
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kVerified);
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kReplayed);
  EXPECT_EQ(ledger_.Verified(fakeNow), 1u);
  // Once expired the entry is pruned, and the payload is refused as expired instead.
  fakeNow += vexorin::kDefaultWorkExpires + 1;
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kExpired);
  EXPECT_EQ(ledger_.Verified(fakeNow), 0u);
}

// One table of hostile payloads: each a fresh genuine one changed in one way.
TEST_F(WorkTest, HostilePayloads) {
  using Change = void (*)(json&);
  struct Case { const char* what; Change change; WorkOutcome outcome; };
  const Case cases[] = {
      {"untouched", [](json&) {}, WorkOutcome::kVerified},
      {"an extra top-level field", [](json& p) { p["extra"] = 1; }, WorkOutcome::kVerified},
      {"solution missing", [](json& p) { p.erase("solution"); }, WorkOutcome::kMalformed},
      {"challenge missing", [](json& p) { p.erase("challenge"); }, WorkOutcome::kMalformed},
      {"signature missing", [](json& p) { p["challenge"].erase("signature"); }, WorkOutcome::kMalformed},
      {"signature a number", [](json& p) { p["challenge"]["signature"] = 5; }, WorkOutcome::kMalformed},
      {"parameters an array", [](json& p) { p["challenge"]["parameters"] = json::array(); }, WorkOutcome::kMalformed},
      {"solution a string", [](json& p) { p["solution"] = "x"; }, WorkOutcome::kMalformed},
      {"payload an array", [](json& p) { p = json::array({p}); }, WorkOutcome::kMalformed},
      {"an extra signed field", [](json& p) { p["challenge"]["parameters"]["x"] = 1; }, WorkOutcome::kInvalidSignature},
      {"a signed field removed", [](json& p) { p["challenge"]["parameters"].erase("expiresAt"); },
       WorkOutcome::kInvalidSignature},
      {"cost set to 1", [](json& p) { p["challenge"]["parameters"]["cost"] = 1; }, WorkOutcome::kInvalidSignature},
      {"key prefix shortened", [](json& p) { p["challenge"]["parameters"]["keyPrefix"] = "0"; },
       WorkOutcome::kInvalidSignature},
      {"algorithm changed", [](json& p) { p["challenge"]["parameters"]["algorithm"] = "SHA-256"; },
       WorkOutcome::kInvalidSignature},
      {"expiry extended", [](json& p) { p["challenge"]["parameters"]["expiresAt"] = 4000000000; },
       WorkOutcome::kInvalidSignature},
      {"binding removed", [](json& p) { p["challenge"]["parameters"].erase("data"); }, WorkOutcome::kInvalidSignature},
      {"signature in capitals",
       [](json& p) {
         std::string s = p["challenge"]["signature"];
         for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         p["challenge"]["signature"] = s;
       },
       WorkOutcome::kInvalidSignature},
      {"signed with another secret",
       [](json& p) { p["challenge"] = Signed(p["challenge"]["parameters"], "another secret"); },
       WorkOutcome::kInvalidSignature},
      {"signed, another algorithm",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["algorithm"] = "SHA-256";
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kMalformed},
      {"signed, cost beyond the range",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["cost"] = vexorin::kMaxWorkCost + 1;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kMalformed},
      {"signed, no expiry",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q.erase("expiresAt");
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kMalformed},
      {"signed, another session",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["data"]["session"] = "other";
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kInvalidBinding},
      {"signed, expired",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["expiresAt"] = fakeNow - 1;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kExpired},
      {"signed, cost below the object's",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["cost"] = vexorin::kMinWorkCost - 1;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kCostTooLow},
      {"signed, living longer than the object's Expires allows",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["expiresAt"] = fakeNow + vexorin::kDefaultWorkExpires + vexorin::kWorkClockSkew + 1;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kLifetimeTooLong},
      {"signed, living longer by no more than the skew",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["expiresAt"] = fakeNow + vexorin::kDefaultWorkExpires + vexorin::kWorkClockSkew;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kVerified},
      {"counter changed", [](json& p) { p["solution"]["counter"] = p["solution"]["counter"].get<int>() + 1; },
       WorkOutcome::kInvalidSolution},
      {"counter negative", [](json& p) { p["solution"]["counter"] = -1; }, WorkOutcome::kInvalidSolution},
      {"counter 2^32", [](json& p) { p["solution"]["counter"] = 4294967296ll; }, WorkOutcome::kInvalidSolution},
      {"counter a string", [](json& p) { p["solution"]["counter"] = "0"; }, WorkOutcome::kInvalidSolution},
      {"counter a fraction", [](json& p) { p["solution"]["counter"] = 0.5; }, WorkOutcome::kInvalidSolution},
      {"derived key in capitals",
       [](json& p) {
         std::string s = p["solution"]["derivedKey"];
         for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         p["solution"]["derivedKey"] = s;
       },
       WorkOutcome::kInvalidSolution},
      {"derived key changed", [](json& p) { p["solution"]["derivedKey"] = std::string(64, '0'); },
       WorkOutcome::kInvalidSolution},
      {"derived key short", [](json& p) { p["solution"]["derivedKey"] = "00"; }, WorkOutcome::kInvalidSolution},
      {"derived key missing", [](json& p) { p["solution"].erase("derivedKey"); }, WorkOutcome::kInvalidSolution},
  };
  for (const Case& c : cases) {
    json payload = Solved("sess");
    c.change(payload);
    EXPECT_EQ(Check(PayloadOf(payload), "sess"), c.outcome) << c.what;
  }
  // Wrong binding on a genuine payload, and texts that are no payload at all.
  EXPECT_EQ(Check(PayloadOf(Solved("sess")), "other"), WorkOutcome::kInvalidBinding);
  EXPECT_EQ(Check(PayloadOf(Solved("sess")), ""), WorkOutcome::kInvalidBinding);
  EXPECT_EQ(Check(PayloadOf(Solved("")), "sess"), WorkOutcome::kInvalidBinding);
  const std::string valid = PayloadOf(Solved("sess"));
  std::string nested(5000, '[');
  const std::string texts[] = {"", "!!!!", "Zm9v", valid + "\n", " " + valid, valid.substr(0, valid.size() - 1),
                               std::string(valid).insert(8, 1, '\0'), std::string(10 << 20, 'A'),
                               Base64Of("not json", 8), Base64Of(nested.data(), nested.size()),
                               Base64Of("{}", 2), Base64Of("null", 4)};
  for (const std::string& text : texts) {
    EXPECT_EQ(Check(text, "sess"), WorkOutcome::kMalformed) << text.substr(0, 40) << " (" << text.size() << " bytes)";
  }
  EXPECT_EQ(Check(valid, "sess"), WorkOutcome::kVerified);  // none of the above touched the table
}

TEST_F(WorkTest, ChallengesOfTheProcessKeyVerifyAcrossObjectsButNotUnderASecret) {
  WorkLedger ledger(16, 16);
  WorkComponent a(&ledger, &FakeClock), b(&ledger, &FakeClock);
  ASSERT_EQ(a.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(b.put_Cost(vexorin::kMinWorkCost), S_OK);
  const std::string payload = PayloadOf(Solved(a, ""));
  EXPECT_EQ(Check(payload), WorkOutcome::kInvalidSignature);
  EXPECT_EQ(Check(b, payload), WorkOutcome::kVerified);
  EXPECT_EQ(Check(a, payload), WorkOutcome::kReplayed);
}

// A challenge is checked against the object that checks it: a cheaper form's challenge, or one that
// lives longer than this object allows, does not pass, though the secret is the same.
TEST_F(WorkTest, VerifyHoldsToItsOwnCostAndExpires) {
  WorkComponent cheap(&ledger_, &FakeClock), dear(&ledger_, &FakeClock), longLived(&ledger_, &FakeClock);
  for (WorkComponent* w : {&cheap, &dear, &longLived}) ASSERT_EQ(w->SetSecret("test secret"), S_OK);
  ASSERT_EQ(cheap.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(dear.put_Cost(vexorin::kMinWorkCost * 2), S_OK);
  ASSERT_EQ(longLived.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(longLived.put_Expires(vexorin::kMaxWorkExpires), S_OK);
  EXPECT_EQ(Check(dear, PayloadOf(Solved(cheap, ""))), WorkOutcome::kCostTooLow);
  EXPECT_EQ(Check(cheap, PayloadOf(Solved(longLived, ""))), WorkOutcome::kLifetimeTooLong);
  EXPECT_EQ(Check(cheap, PayloadOf(Solved(dear, ""))), WorkOutcome::kVerified);  // dearer is fine
  EXPECT_EQ(derivations.load(), 1);  // refused by policy before any derivation
}

// A solution is checked once per challenge: a retry, right or wrong, runs no key derivation.
TEST_F(WorkTest, RetriedSolutionRunsNoDerivation) {
  json genuine = Solved();
  json wrong = genuine;
  wrong["solution"]["derivedKey"] = std::string(64, '0');
  derivations = 0;
  EXPECT_EQ(Check(PayloadOf(wrong)), WorkOutcome::kInvalidSolution);
  EXPECT_EQ(derivations.load(), 1);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Check(PayloadOf(wrong)), WorkOutcome::kAlreadyChecked);
  wrong["solution"]["counter"] = 12345;
  EXPECT_EQ(Check(PayloadOf(wrong)), WorkOutcome::kAlreadyChecked);
  EXPECT_EQ(Check(PayloadOf(genuine)), WorkOutcome::kAlreadyChecked);
  EXPECT_EQ(derivations.load(), 1);
}

// Verify at t, prune past the expiry, step the clock back: the payload is still refused.
TEST_F(WorkTest, ClockSteppedBackBringsNoReplayBack) {
  const std::int64_t start = fakeNow;
  const std::string payload = PayloadOf(Solved());
  EXPECT_EQ(Check(payload), WorkOutcome::kVerified);
  fakeNow = start + vexorin::kDefaultWorkExpires + 100;
  EXPECT_EQ(Check(PayloadOf(Solved())), WorkOutcome::kVerified);  // prunes the first entry
  EXPECT_EQ(ledger_.Verified(fakeNow), 1u);
  fakeNow = start + 100;
  EXPECT_EQ(Check(payload), WorkOutcome::kExpired);
  std::string challenge;  // made at the highest time seen, not the clock's
  ASSERT_EQ(work_.Challenge("", challenge), S_OK);
  EXPECT_EQ(json::parse(challenge)["parameters"]["expiresAt"], start + 2 * vexorin::kDefaultWorkExpires + 100);
}

// More verified payloads than the ledger holds: nobody is locked out, the newest are still refused
// as replays, and only the oldest could be tried again.
TEST_F(WorkTest, FullLedgerForgetsTheOldestAndLocksNobodyOut) {
  WorkLedger small(4, 4);
  WorkComponent work(&small, &FakeClock);
  ASSERT_EQ(work.SetSecret("s"), S_OK);
  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  std::vector<std::string> payloads;
  for (int i = 0; i < 12; ++i) payloads.push_back(PayloadOf(Solved(work, "")));
  for (const std::string& p : payloads) EXPECT_EQ(Check(work, p), WorkOutcome::kVerified);
  EXPECT_EQ(Check(work, PayloadOf(Solved(work, ""))), WorkOutcome::kVerified);  // a visitor after the flood
  EXPECT_EQ(small.Verified(fakeNow), 4u);
  EXPECT_EQ(small.ForgottenVerified(), 9u);
  for (std::size_t i = payloads.size() - 3; i < payloads.size(); ++i) {
    EXPECT_EQ(Check(work, payloads[i]), WorkOutcome::kReplayed) << i;
  }
}

// The tag sets against a plain model, with tags that all share one bucket so that probe runs and
// their deletions are exercised.
TEST(RecentTagsTest, KeepsExactlyTheNewestWithinItsCapacity) {
  for (const bool crowded : {false, true}) {
    RecentTags tags(300);
    std::vector<WorkTag> all;
    for (int i = 0; i < 2000; ++i) {
      WorkTag tag{};
      tag[crowded ? 8 : 0] = static_cast<unsigned char>(i);
      tag[crowded ? 9 : 1] = static_cast<unsigned char>(i >> 8);
      tag[15] = static_cast<unsigned char>(i * 7);
      all.push_back(tag);
      ASSERT_TRUE(tags.Insert(tag, 100 + i, 0));
      ASSERT_FALSE(tags.Insert(tag, 100 + i, 0));
      if (i % 97 == 0) {
        for (int k = 0; k <= i; ++k) ASSERT_EQ(tags.Contains(all[static_cast<std::size_t>(k)]), k > i - 300) << crowded << " " << i << " " << k;
      }
    }
    EXPECT_EQ(tags.Size(), 300u);
    EXPECT_EQ(tags.Forgotten(), 1700u);
    tags.Prune(100 + 1900);  // what expired goes, in order, without counting as forgotten
    EXPECT_EQ(tags.Size(), 100u);
    EXPECT_TRUE(tags.Contains(all[1900]));
    EXPECT_FALSE(tags.Contains(all[1899]));
    EXPECT_EQ(tags.Forgotten(), 1700u);
  }
}

TEST_F(WorkTest, ConcurrentChecksOfOnePayloadVerifyItOnce) {
  const std::string payload = PayloadOf(Solved());
  std::atomic<int> verified{0}, refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      WorkComponent work(&ledger_, &FakeClock);
      EXPECT_EQ(work.SetSecret("test secret"), S_OK);
      EXPECT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
      const WorkOutcome outcome = Check(work, payload);
      if (outcome == WorkOutcome::kVerified) ++verified;
      if (outcome == WorkOutcome::kReplayed || outcome == WorkOutcome::kAlreadyChecked) ++refused;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(verified.load(), 1);
  EXPECT_EQ(refused.load(), 7);
  EXPECT_EQ(derivations.load(), 1);
}

// The platform's failure is the caller's error, never a verdict on the visitor's payload.
TEST_F(WorkTest, PlatformFailureIsAnErrorNotAVerdict) {
  const auto payload = Bstr(PayloadOf(Solved()));
  failDerivations = true;
  WorkOutcome outcome = WorkOutcome::kNone;
  const std::string text = Narrow(payload.get());
  EXPECT_EQ(work_.Check(text.data(), text.size(), "", outcome), E_NOTIMPL);
  VARIANT_BOOL verified = VARIANT_TRUE;
  EXPECT_EQ(work_.Verify(Bstr(PayloadOf(Solved())).get(), nullptr, &verified), E_NOTIMPL);
  EXPECT_EQ(verified, VARIANT_FALSE);
  BSTR reason = nullptr;
  ASSERT_EQ(work_.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "");
  SysFreeString(reason);
}

// Whatever script a binding is in, the challenge's data stays ASCII (the widget's btoa takes
// nothing else) and only the same binding verifies.
TEST_F(WorkTest, BindingsBeyondAsciiTravelAsAscii) {
  struct Case { const char* binding; const char* data; };
  const Case cases[] = {{"session 5", "session 5"},
                        {"100%", "100%25"},
                        {"sesi\xc3\xb3n", "sesi%C3%B3n"},
                        {"\xe3\x82\xbb\xe3\x83\x83", "%E3%82%BB%E3%83%83"},
                        {"\xf0\x9f\x98\x80", "%F0%9F%98%80"}};
  for (const Case& c : cases) {
    std::string challenge;
    ASSERT_EQ(work_.Challenge(c.binding, challenge), S_OK);
    EXPECT_EQ(json::parse(challenge)["parameters"]["data"]["session"], c.data) << c.data;
    const std::string payload = PayloadOf(Solve(challenge));
    EXPECT_EQ(Check(payload, c.data == std::string(c.binding) ? "other" : c.data), WorkOutcome::kInvalidBinding) << c.data;
    EXPECT_EQ(Check(payload, c.binding), WorkOutcome::kVerified) << c.data;
  }
}

// The members as a COM caller sees them: ranges, out-parameters, the reason, the binding.
TEST(WorkMembers, RangesSecretAndReason) {
  WorkComponent work;
  LONG value = 0;
  EXPECT_EQ(work.get_Cost(&value), S_OK);
  EXPECT_EQ(value, vexorin::kDefaultWorkCost);
  EXPECT_EQ(work.get_Expires(&value), S_OK);
  EXPECT_EQ(value, 600);
  struct Range { HRESULT (WorkComponent::*put)(LONG); LONG lo, hi; };
  for (const Range r : {Range{&WorkComponent::put_Cost, vexorin::kMinWorkCost, vexorin::kMaxWorkCost},
                        Range{&WorkComponent::put_Expires, vexorin::kMinWorkExpires, vexorin::kMaxWorkExpires}}) {
    EXPECT_EQ((work.*r.put)(r.lo), S_OK);
    EXPECT_EQ((work.*r.put)(r.hi), S_OK);
    for (const LONG bad : {r.lo - 1, r.hi + 1, LONG{0}, LONG{-1}, LONG{INT32_MIN}, LONG{INT32_MAX}}) {
      EXPECT_EQ((work.*r.put)(bad), E_INVALIDARG) << bad;
    }
  }
  EXPECT_EQ(work.get_Cost(&value), S_OK);
  EXPECT_EQ(value, vexorin::kMaxWorkCost);  // a refused value changes nothing
  EXPECT_EQ(work.get_Cost(nullptr), E_POINTER);
  EXPECT_EQ(work.put_Secret(nullptr), E_INVALIDARG);
  EXPECT_EQ(work.put_Secret(Bstr(std::u16string(u"a\xD800" u"b")).get()), E_INVALIDARG);

  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(work.put_Secret(Bstr(std::u16string(u"s\u00e9cret \U0001F511")).get()), S_OK);
  BSTR reason = nullptr;
  ASSERT_EQ(work.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "");
  SysFreeString(reason);
  const std::u16string session = u"Sitzung \u00fc \U0001F600";
  BSTR challenge = nullptr;
  ASSERT_EQ(work.CreateChallenge(Bstr(session).get(), nullptr, &challenge), S_OK);
  const json parsed = json::parse(Utf8(challenge));
  EXPECT_EQ(parsed.at("parameters").at("data").at("session"), "Sitzung %C3%BC %F0%9F%98%80");
  const auto payload = Bstr(PayloadOf(Solve(Utf8(challenge))));
  SysFreeString(challenge);
  // The HMAC key is the secret's UTF-8 bytes, as ALTCHA's libraries take a text secret.
  unsigned char mac[platform::kSha256Bytes];
  const std::string key = "s\xc3\xa9" "cret \xf0\x9f\x94\x91", text = parsed.at("parameters").dump();
  ASSERT_EQ(platform::HmacSha256(key.data(), key.size(), text.data(), text.size(), mac), S_OK);
  EXPECT_EQ(parsed.at("signature"), HexOf(mac, sizeof mac));

  VARIANT_BOOL verified = VARIANT_TRUE;
  EXPECT_EQ(work.Verify(payload.get(), Bstr(std::u16string(u"Sitzung")).get(), &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  ASSERT_EQ(work.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "invalid binding");
  SysFreeString(reason);
  EXPECT_EQ(work.Verify(payload.get(), Bstr(session).get(), &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_TRUE);
  ASSERT_EQ(work.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "verified");
  SysFreeString(reason);
  EXPECT_EQ(work.Verify(nullptr, nullptr, &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  ASSERT_EQ(work.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "malformed");
  SysFreeString(reason);
  EXPECT_EQ(work.Verify(payload.get(), nullptr, nullptr), E_POINTER);
  EXPECT_EQ(work.CreateChallenge(nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(work.CreateChallenge(Bstr(std::u16string(u"\xDC00")).get(), nullptr, &challenge), E_INVALIDARG);
  EXPECT_EQ(challenge, nullptr);
}

}  // namespace
