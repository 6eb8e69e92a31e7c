#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/altcha_json.h"
#include "component/work/derivation_gate.h"
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
using vexorin::WorkClock;
using vexorin::WorkComponent;
using vexorin::WorkOutcome;
using vexorin::WorkSettings;
using vexorin::WorkState;
using vexorin::WorkTag;

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

// A state on the fake clock, counting derivations; `budget` challenges a second carry a derivation.
WorkSettings Settings(unsigned budget = 1u << 20, std::size_t capacity = vexorin::kReplayCapacity) {
  WorkSettings settings;
  settings.replayCapacity = settings.checkedCapacity = capacity;
  settings.budget = budget;
  settings.derive = &CountedDerive;
  settings.clock = &FakeClock;
  return settings;
}

// The key-signature key ALTCHA's server frameworks make from a secret.
std::string KeySignatureKey(const std::string& secret) {
  unsigned char mac[platform::kSha256Bytes];
  EXPECT_EQ(platform::HmacSha256("derived-secret", 14, secret.data(), secret.size(), mac), S_OK);
  return HexOf(mac, sizeof mac);
}

class WorkTest : public testing::Test {
 protected:
  WorkTest() : state_(Settings()), work_(&state_) {
    fakeNow = 1800000000;
    derivations = 0;
    failDerivations = false;
    EXPECT_EQ(work_.SetSecret("test secret"), S_OK);
    EXPECT_EQ(work_.put_Cost(vexorin::kMinWorkCost), S_OK);
  }
  json Solved(const std::string& binding = "") { return Solved(work_, binding); }
  static json Solved(WorkComponent& maker, const std::string& binding) {
    std::string challenge;
    EXPECT_EQ(maker.CreateChallenge(binding, challenge), S_OK);
    return Solve(challenge);
  }
  WorkOutcome Check(const std::string& payload, const std::string& binding = "") { return Check(work_, payload, binding); }
  static WorkOutcome Check(WorkComponent& work, const std::string& payload, const std::string& binding = "") {
    WorkOutcome outcome = WorkOutcome::kNone;
    EXPECT_EQ(work.Verify(payload.data(), payload.size(), binding, outcome), S_OK);
    return outcome;
  }
  // Parameters signed with `secret` as a server holding it would.
  static json Signed(json parameters, const std::string& secret) {
    const std::string text = parameters.dump();
    unsigned char mac[platform::kSha256Bytes];
    EXPECT_EQ(platform::HmacSha256(secret.data(), secret.size(), text.data(), text.size(), mac), S_OK);
    return {{"parameters", parameters}, {"signature", HexOf(mac, sizeof mac)}};
  }
  WorkState state_;
  WorkComponent work_;
};

// The server knows the answer: the key at a drawn counter, its first half as the prefix and its
// HMAC under the key-signature key signed in, at one small derivation whatever the price.
TEST_F(WorkTest, ChallengeHasAltchasFieldsAndSignature) {
  std::string text;
  ASSERT_EQ(work_.CreateChallenge("session-1", text), S_OK);
  EXPECT_EQ(derivations.load(), 1);
  const json challenge = json::parse(text);
  const json& p = challenge.at("parameters");
  const std::int64_t attempts = (vexorin::kMinWorkCost * 256 + 1249) / 1250;
  EXPECT_EQ(p.at("algorithm"), "PBKDF2/SHA-256");
  EXPECT_EQ(p.at("cost"), vexorin::kWorkAttemptCost);
  EXPECT_EQ(p.at("keyLength"), 32);
  EXPECT_EQ(p.at("expiresAt"), fakeNow + vexorin::kDefaultWorkExpires);
  EXPECT_EQ(p.at("data"), json({{"attempts", attempts}, {"session", "session-1"}}));
  EXPECT_EQ(p.at("nonce").get<std::string>().size(), 32u);
  EXPECT_EQ(p.at("salt").get<std::string>().size(), 32u);
  EXPECT_EQ(Signed(p, "test secret").at("signature"), challenge.at("signature"));
  const json solved = Solve(text);
  const std::string key = solved.at("solution").at("derivedKey");
  EXPECT_LT(solved.at("solution").at("counter").get<std::int64_t>(), 2 * attempts);
  EXPECT_EQ(p.at("keyPrefix"), key.substr(0, 32));
  const std::string keyKey = KeySignatureKey("test secret");
  const std::vector<unsigned char> keyBytes = testing_support::BytesOfHex(key);
  unsigned char mac[platform::kSha256Bytes];
  ASSERT_EQ(platform::HmacSha256(keyKey.data(), keyKey.size(), keyBytes.data(), keyBytes.size(), mac), S_OK);
  EXPECT_EQ(p.at("keySignature"), HexOf(mac, sizeof mac));
  std::string other;
  ASSERT_EQ(work_.CreateChallenge("session-1", other), S_OK);
  EXPECT_NE(json::parse(other).at("parameters").at("nonce"), p.at("nonce"));
  // The counter is drawn from all of [0, 2N): neither half is ever skipped.
  bool low = false, high = false;
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(work_.CreateChallenge("", other), S_OK);
    (Solve(other).at("solution").at("counter").get<std::int64_t>() < attempts ? low : high) = true;
  }
  EXPECT_TRUE(low && high);
}

// Past the budget of derivations a second, the same expected work in the prefix form at no more
// than the same cost an attempt: nothing derived to make it.
TEST_F(WorkTest, OverTheBudgetChallengesComeInThePrefixForm) {
  WorkState state(Settings(1));
  WorkComponent work(&state);
  ASSERT_EQ(work.SetSecret("test secret"), S_OK);
  struct Case { LONG cost; const char* prefix; std::int64_t iterations; };
  const Case cases[] = {{vexorin::kMinWorkCost, "00", 100}, {20000, "000", 1250}, {40000, "0000", 157},
                        {160000, "0000", 625}, {vexorin::kMaxWorkCost, "00000", 245}};
  std::string text;
  ASSERT_EQ(work.CreateChallenge("", text), S_OK);
  EXPECT_TRUE(json::parse(text)["parameters"].contains("keySignature"));
  derivations = 0;
  for (const Case& c : cases) {
    ASSERT_EQ(work.put_Cost(c.cost), S_OK);
    ASSERT_EQ(work.CreateChallenge("", text), S_OK);
    const json p = json::parse(text)["parameters"];
    EXPECT_EQ(p["keyPrefix"], c.prefix) << c.cost;
    EXPECT_EQ(p["cost"], c.iterations) << c.cost;
    EXPECT_FALSE(p.contains("keySignature"));
    const std::int64_t attempts = p["data"]["attempts"];
    EXPECT_EQ(attempts, std::int64_t{1} << (4 * std::strlen(c.prefix)));
    EXPECT_GE(attempts * c.iterations, std::int64_t{c.cost} * 256) << c.cost;
    EXPECT_LT(attempts * (c.iterations - 1), std::int64_t{c.cost} * 256) << c.cost;
  }
  EXPECT_EQ(derivations.load(), 0);
  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(work.CreateChallenge("", text), S_OK);
  const std::string payload = PayloadOf(Solve(text));
  derivations = 0;
  EXPECT_EQ(Check(work, payload), WorkOutcome::kVerified);
  EXPECT_EQ(derivations.load(), 1);
  fakeNow += 1;  // a new second, a new budget
  ASSERT_EQ(work.CreateChallenge("", text), S_OK);
  EXPECT_TRUE(json::parse(text)["parameters"].contains("keySignature"));
  EXPECT_EQ(json::parse(work.Statistics())["challengesWithoutDerivation"], 6);
}

TEST_F(WorkTest, SolvedOnceVerifiesOnce) {
  const std::string payload = PayloadOf(Solved("abc"));
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kVerified);
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kReplayed);
  EXPECT_EQ(state_.ledger.Verified(fakeNow), 1u);
  // Once expired the entry is pruned, and the payload is refused as expired instead.
  fakeNow += vexorin::kDefaultWorkExpires + 1;
  EXPECT_EQ(Check(payload, "abc"), WorkOutcome::kExpired);
  EXPECT_EQ(state_.ledger.Verified(fakeNow), 0u);
}

WorkComponent* maker = nullptr;  // the table's source of other challenges

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
      {"signed, cost an attempt below the object's work",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["cost"] = 1000;
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
      // The key proves the work; the counter that found it is the solver's note (as ALTCHA's own
      // check by key signature takes it).
      {"counter changed", [](json& p) { p["solution"]["counter"] = p["solution"]["counter"].get<int>() + 1; },
       WorkOutcome::kVerified},
      {"a key that matches the prefix but not the signature",
       [](json& p) {
         std::string key = p["solution"]["derivedKey"];
         key.back() = key.back() == '0' ? '1' : '0';
         p["solution"]["derivedKey"] = key;
       },
       WorkOutcome::kInvalidSolution},
      {"the key signature removed", [](json& p) { p["challenge"]["parameters"].erase("keySignature"); },
       WorkOutcome::kInvalidSignature},
      {"the key signature of another challenge",
       [](json& p) {
         std::string other;
         EXPECT_EQ(maker->CreateChallenge("sess", other), S_OK);
         p["challenge"]["parameters"]["keySignature"] = json::parse(other)["parameters"]["keySignature"];
       },
       WorkOutcome::kInvalidSignature},
      {"signed, the key signature of another challenge",
       [](json& p) {
         std::string other;
         EXPECT_EQ(maker->CreateChallenge("sess", other), S_OK);
         json q = p["challenge"]["parameters"];
         q["keySignature"] = json::parse(other)["parameters"]["keySignature"];
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kInvalidSolution},
      {"signed, the key signature not hex",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["keySignature"] = std::string(64, 'g');
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kMalformed},
      {"signed, switched to the prefix form with a short prefix",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q.erase("keySignature");
         q["keyPrefix"] = "0";
         q["data"].erase("attempts");
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kCostTooLow},
      {"signed, switched to deriving (the key signature dropped)",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q.erase("keySignature");
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kVerified},
      {"signed, fewer attempts than the object asks",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["data"]["attempts"] = q["data"]["attempts"].get<int>() / 2;
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kCostTooLow},
      {"signed, attempts not a number",
       [](json& p) {
         json q = p["challenge"]["parameters"];
         q["data"]["attempts"] = "many";
         p["challenge"] = Signed(q, "test secret");
       },
       WorkOutcome::kMalformed},
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
  maker = &work_;
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
  WorkState state(Settings(1u << 20, 16));
  WorkComponent a(&state), b(&state);
  ASSERT_EQ(a.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(b.put_Cost(vexorin::kMinWorkCost), S_OK);
  const std::string payload = PayloadOf(Solved(a, ""));
  EXPECT_EQ(Check(payload), WorkOutcome::kInvalidSignature);
  EXPECT_EQ(Check(b, payload), WorkOutcome::kVerified);
  EXPECT_EQ(Check(a, payload), WorkOutcome::kReplayed);
}

// A challenge is checked against the object that checks it: a cheaper form's challenge, or one that
// lives longer than this object allows, does not pass, though the secret is the same. Work is
// compared as work: the prefix form's 16^3 attempts at 1,250 iterations is the default Cost.
TEST_F(WorkTest, VerifyHoldsToItsOwnCostAndExpires) {
  WorkComponent cheap(&state_), dear(&state_), longLived(&state_), fair(&state_);
  for (WorkComponent* w : {&cheap, &dear, &longLived, &fair}) ASSERT_EQ(w->SetSecret("test secret"), S_OK);
  ASSERT_EQ(cheap.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(dear.put_Cost(vexorin::kMinWorkCost * 2), S_OK);
  ASSERT_EQ(longLived.put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(longLived.put_Expires(vexorin::kMaxWorkExpires), S_OK);
  const std::string fromCheap = PayloadOf(Solved(cheap, "")), fromLongLived = PayloadOf(Solved(longLived, ""));
  const std::string fromDear = PayloadOf(Solved(dear, ""));
  derivations = 0;
  EXPECT_EQ(Check(dear, fromCheap), WorkOutcome::kCostTooLow);
  EXPECT_EQ(Check(cheap, fromLongLived), WorkOutcome::kLifetimeTooLong);
  EXPECT_EQ(Check(cheap, fromDear), WorkOutcome::kVerified);  // dearer is fine
  EXPECT_EQ(derivations.load(), 0);  // refused by policy, and verified by one HMAC
  ASSERT_EQ(fair.put_Cost(vexorin::kDefaultWorkCost), S_OK);
  for (const std::int64_t cost : {std::int64_t{1250}, std::int64_t{1249}}) {
    json solved = Solved();
    json q = solved["challenge"]["parameters"];
    q.erase("keySignature");
    q["data"].erase("attempts");
    q["keyPrefix"] = "000";
    q["cost"] = cost;
    solved["challenge"] = Signed(q, "test secret");
    EXPECT_EQ(Check(fair, PayloadOf(solved)), cost == 1250 ? WorkOutcome::kInvalidSolution : WorkOutcome::kCostTooLow);
  }
}

// A wrong solution costs one HMAC and leaves nothing behind; where a key derivation checks one
// (the prefix form), a retry, right or wrong, runs none.
TEST_F(WorkTest, WrongSolutionsCostNoDerivationAndRetriesNone) {
  json wrong = Solved();
  wrong["solution"]["derivedKey"] = std::string(64, '0');
  derivations = 0;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Check(PayloadOf(wrong)), WorkOutcome::kInvalidSolution);
  EXPECT_EQ(derivations.load(), 0);

  WorkState state(Settings(1));
  WorkComponent work(&state);
  ASSERT_EQ(work.SetSecret("s"), S_OK);
  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  std::string spent;
  ASSERT_EQ(work.CreateChallenge("", spent), S_OK);  // the second's one derivation
  json genuine = Solved(work, "");
  ASSERT_FALSE(genuine["challenge"]["parameters"].contains("keySignature"));
  wrong = genuine;
  wrong["solution"]["derivedKey"] = genuine["solution"]["derivedKey"].get<std::string>().substr(0, 2) + std::string(62, '0');
  derivations = 0;
  EXPECT_EQ(Check(work, PayloadOf(wrong)), WorkOutcome::kInvalidSolution);
  EXPECT_EQ(derivations.load(), 1);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Check(work, PayloadOf(wrong)), WorkOutcome::kAlreadyChecked);
  wrong["solution"]["counter"] = 12345;
  EXPECT_EQ(Check(work, PayloadOf(wrong)), WorkOutcome::kAlreadyChecked);
  EXPECT_EQ(Check(work, PayloadOf(genuine)), WorkOutcome::kAlreadyChecked);
  EXPECT_EQ(derivations.load(), 1);
}

// The time never goes back and never stands still: it runs with the monotonic clock, follows the
// wall clock forward, and when the wall clock steps back it keeps running.
std::int64_t wall = 0, steady = 0;
std::int64_t Wall() { return wall; }
std::int64_t Steady() { return steady; }
TEST(WorkClockTest, NeverBackNeverStill) {
  wall = 1800000000;
  steady = 500;
  WorkClock clock(&Wall, &Steady);
  EXPECT_EQ(clock.Now(), 1800000000);
  steady += 10, wall += 10;
  EXPECT_EQ(clock.Now(), 1800000010);
  wall -= 3600;  // an hour fast, then corrected
  EXPECT_EQ(clock.Now(), 1800000010);
  steady += 600, wall += 600;
  EXPECT_EQ(clock.Now(), 1800000610);  // lifetimes end and counts decay on time
  wall += 7200;  // stepped forward: followed
  EXPECT_EQ(clock.Now(), 1800004210);
  steady += 1;
  EXPECT_EQ(clock.Now(), 1800004211);
}

// More verified payloads than the ledger holds: nobody is locked out, the newest are still refused
// as replays, and only the oldest could be tried again.
TEST_F(WorkTest, FullLedgerForgetsTheOldestAndLocksNobodyOut) {
  WorkState small(Settings(1u << 20, 4));
  WorkComponent work(&small);
  ASSERT_EQ(work.SetSecret("s"), S_OK);
  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  std::vector<std::string> payloads;
  for (int i = 0; i < 12; ++i) payloads.push_back(PayloadOf(Solved(work, "")));
  for (const std::string& p : payloads) EXPECT_EQ(Check(work, p), WorkOutcome::kVerified);
  EXPECT_EQ(Check(work, PayloadOf(Solved(work, ""))), WorkOutcome::kVerified);  // a visitor after the flood
  EXPECT_EQ(small.ledger.Verified(fakeNow), 4u);
  EXPECT_EQ(small.ledger.ForgottenVerified(), 9u);
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

// The gate's derivations, held until the test lets them go, in the order they ran.
std::mutex heldMutex;
std::condition_variable heldChanged;
int heldRunning = 0, heldReleased = 0;
std::vector<unsigned long> heldOrder;
HRESULT HeldDerive(const void*, std::size_t, const void*, std::size_t, unsigned long iterations, unsigned char*,
                   std::size_t) noexcept {
  std::unique_lock<std::mutex> lock(heldMutex);
  heldOrder.push_back(iterations);
  const int mine = ++heldRunning;
  heldChanged.notify_all();
  heldChanged.wait(lock, [&] { return heldReleased >= mine; });
  return S_OK;
}

// One derivation at a time: later checks wait in the order they came, and past the queue's bound
// a check is told at once that the server is busy.
TEST(DerivationGateTest, FirstComeFirstServedAndBusyBeyondTheQueue) {
  vexorin::DerivationGate gate(1, 2, &HeldDerive);
  std::vector<std::thread> threads;
  std::atomic<int> busy{0};
  auto check = [&](unsigned long id) {
    vexorin::DerivationGate::Turn turn(gate);
    if (!turn.Held()) {
      ++busy;
      return;
    }
    unsigned char out[1];
    EXPECT_EQ(turn.Derive(nullptr, 0, nullptr, 0, id, out, 1), S_OK);
  };
  threads.emplace_back(check, 1);
  {
    std::unique_lock<std::mutex> lock(heldMutex);
    heldChanged.wait(lock, [] { return heldRunning == 1; });  // the first runs and holds the gate
  }
  for (unsigned long id = 2; id <= 3; ++id) {
    threads.emplace_back(check, id);
    while (gate.Waiting() < id - 1) std::this_thread::yield();  // queued in this order
  }
  check(4);  // the queue holds two: refused at once
  EXPECT_EQ(busy.load(), 1);
  for (int released = 1; released <= 3; ++released) {
    std::unique_lock<std::mutex> lock(heldMutex);
    heldReleased = released;
    heldChanged.notify_all();
    if (released < 3) heldChanged.wait(lock, [&] { return heldRunning == released + 1; });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(heldOrder, (std::vector<unsigned long>{1, 2, 3}));
  EXPECT_EQ(gate.Runs(), 3u);
}

// Racers with one payload, in either form: one verifies, and the prefix form derives once.
TEST_F(WorkTest, ConcurrentChecksOfOnePayloadVerifyItOnce) {
  for (const unsigned budget : {1u << 20, 0u}) {
    WorkState state(Settings(budget == 0 ? 1 : budget));
    WorkComponent made(&state);
    ASSERT_EQ(made.SetSecret("test secret"), S_OK);
    ASSERT_EQ(made.put_Cost(vexorin::kMinWorkCost), S_OK);
    std::string spent;
    if (budget == 0) {
      ASSERT_EQ(made.CreateChallenge("", spent), S_OK);
    }
    const std::string payload = PayloadOf(Solved(made, ""));
    derivations = 0;
    std::atomic<int> verified{0}, refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&] {
        WorkComponent work(&state);
        EXPECT_EQ(work.SetSecret("test secret"), S_OK);
        EXPECT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
        const WorkOutcome outcome = Check(work, payload);
        if (outcome == WorkOutcome::kVerified) ++verified;
        if (outcome == WorkOutcome::kReplayed || outcome == WorkOutcome::kAlreadyChecked) ++refused;
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(verified.load(), 1) << budget;
    EXPECT_EQ(refused.load(), 7) << budget;
    EXPECT_EQ(derivations.load(), budget == 0 ? 1 : 0) << budget;
  }
}

// The platform's failure is the caller's error, never a verdict on the visitor's payload.
TEST_F(WorkTest, PlatformFailureIsAnErrorNotAVerdict) {
  WorkState state(Settings(1));
  WorkComponent work(&state);
  ASSERT_EQ(work.SetSecret("test secret"), S_OK);
  ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
  std::string spent;
  ASSERT_EQ(work.CreateChallenge("", spent), S_OK);
  const auto payload = Bstr(PayloadOf(Solved(work, "")));  // the prefix form: checked by deriving
  const auto another = Bstr(PayloadOf(Solved(work, "")));
  failDerivations = true;
  WorkOutcome outcome = WorkOutcome::kNone;
  const std::string text = Narrow(payload.get());
  EXPECT_EQ(work.Verify(text.data(), text.size(), "", outcome), E_NOTIMPL);
  VARIANT_BOOL verified = VARIANT_TRUE;
  EXPECT_EQ(work.Verify(another.get(), nullptr, &verified), E_NOTIMPL);
  EXPECT_EQ(verified, VARIANT_FALSE);
  BSTR reason = nullptr;
  ASSERT_EQ(work.get_Reason(&reason), S_OK);
  EXPECT_EQ(Narrow(reason), "");
  SysFreeString(reason);
  fakeNow += 1;  // the counter form derives to make a challenge
  EXPECT_EQ(work.CreateChallenge("", spent), E_NOTIMPL);
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
    ASSERT_EQ(work_.CreateChallenge(c.binding, challenge), S_OK);
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
