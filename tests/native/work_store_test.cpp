// The farm's store against a real Redis server (tests/redis_store.sh, a fixture of the test tree):
// a payload verifies once across processes and threads, only passing payloads reach the store, and
// a store that is stopped, stalled, full or refuses the password fails Verify closed, its failed
// connection never reused. Natively and, built for Windows, through hiredis's Windows networking
// under Wine.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <hiredis/hiredis.h>

#include "component/work/work.h"
#include "component/work/work_store.h"
#include "platform/crypto.h"
#include "platform/owner.h"
#include "platform/text.h"
#include "tests/shared/work_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using testing_support::PayloadOf;
using testing_support::Solve;
using vexorin::WorkComponent;
using vexorin::WorkOutcome;
using vexorin::WorkState;

constexpr const char* kPassword = "vexorin-test-password";
constexpr const char* kSecret = "the farm's shared secret";

// A path the fixture wrote, as this program opens it (under Wine, Unix paths are on drive Z:).
std::string LocalPath(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  path = "Z:" + path;
#endif
  return path;
}

int StorePort() {
  const char* dir = std::getenv("VEXORIN_STORE_DIR");
  if (dir == nullptr) return 0;
  std::ifstream in(LocalPath(std::string(dir) + "/port"));
  int port = 0;
  in >> port;
  return port;
}

struct ReplyOwner {
  redisReply* reply = nullptr;
  ~ReplyOwner() {
    if (reply != nullptr) freeReplyObject(reply);
  }
};

// The test's own connection to the server, to look and to stall it.
class Admin {
 public:
  explicit Admin(int port) {
    context_ = redisConnect("127.0.0.1", port);
    if (context_ != nullptr && context_->err == 0) Run({"AUTH", kPassword});
  }
  ~Admin() {
    if (context_ != nullptr) redisFree(context_);
  }
  bool Ok() const { return context_ != nullptr && context_->err == 0; }
  // The reply as text (integers in decimal, nil as "(nil)", errors as "ERR ..." text).
  std::string Run(std::vector<std::string> args) {
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const std::string& arg : args) {
      argv.push_back(arg.c_str());
      lengths.push_back(arg.size());
    }
    ReplyOwner owner;
    owner.reply = static_cast<redisReply*>(redisCommandArgv(context_, static_cast<int>(argv.size()), argv.data(),
                                                            lengths.data()));
    if (owner.reply == nullptr) return "(failed)";
    switch (owner.reply->type) {
      case REDIS_REPLY_INTEGER: return std::to_string(owner.reply->integer);
      case REDIS_REPLY_NIL: return "(nil)";
      case REDIS_REPLY_ARRAY: return std::to_string(owner.reply->elements);
      default: return std::string(owner.reply->str, owner.reply->len);
    }
  }
  std::vector<std::string> Keys(const std::string& prefix) {
    std::vector<std::string> keys;
    ReplyOwner owner;
    owner.reply = static_cast<redisReply*>(redisCommand(context_, "KEYS %b*", prefix.data(), prefix.size()));
    if (owner.reply != nullptr && owner.reply->type == REDIS_REPLY_ARRAY) {
      for (size_t i = 0; i < owner.reply->elements; ++i) keys.emplace_back(owner.reply->element[i]->str);
    }
    return keys;
  }
  // A counter of INFO, e.g. total_connections_received.
  long long Info(const std::string& name) {
    const std::string info = Run({"INFO", "all"});
    const std::size_t at = info.find(name + ":");
    return at == std::string::npos ? -1 : std::atoll(info.c_str() + at + name.size() + 1);
  }

 private:
  redisContext* context_ = nullptr;
};

class WorkStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    port_ = StorePort();
    if (port_ == 0) GTEST_FAIL() << "no store: run through ctest (fixture store_server_start), VEXORIN_STORE_DIR";
    admin_ = std::make_unique<Admin>(port_);
    ASSERT_TRUE(admin_->Ok());
    // Each test its own keys, whatever ran before on this server.
    prefix_ = "t" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ":";
  }
  std::string Url(const std::string& settings = "", const std::string& password = kPassword) const {
    // A generous timeout for a loaded machine unless the test sets its own (the last one counts).
    return "redis://:" + password + "@127.0.0.1:" + std::to_string(port_) + "/0?prefix=" + prefix_ + "&timeout=5000" +
           (settings.empty() ? "" : "&" + settings);
  }
  // A worker process of the farm: its own state, the farm's secret and store, the cheapest cost.
  struct Worker {
    WorkState state;
    WorkComponent work{&state};
  };
  std::unique_ptr<Worker> MakeWorker(const std::string& url) {
    auto worker = std::make_unique<Worker>();
    EXPECT_EQ(worker->work.SetSecret(kSecret), S_OK);
    EXPECT_EQ(worker->work.SetStore(url), S_OK);
    EXPECT_EQ(worker->work.put_Cost(vexorin::kMinWorkCost), S_OK);
    return worker;
  }
  std::string SolvedPayload(WorkComponent& maker) {
    std::string challenge;
    EXPECT_EQ(maker.CreateChallenge("", challenge), S_OK);
    return PayloadOf(Solve(challenge));
  }
  static HRESULT Check(WorkComponent& work, const std::string& payload, WorkOutcome& outcome) {
    outcome = WorkOutcome::kNone;
    return work.Verify(payload.data(), payload.size(), "", outcome);
  }
  static WorkOutcome Outcome(WorkComponent& work, const std::string& payload) {
    WorkOutcome outcome;
    EXPECT_EQ(Check(work, payload, outcome), S_OK) << work.Failure();
    return outcome;
  }
  // The server sleeps (DEBUG SLEEP): commands sent meanwhile wait in its socket and run when it
  // wakes. Returns once the server is asleep; EndStall() once it is awake again.
  void Stall(int seconds) {
    sleeper_ = redisConnect("127.0.0.1", port_);
    ASSERT_TRUE(sleeper_ != nullptr && sleeper_->err == 0);
    redisReply* reply = static_cast<redisReply*>(redisCommand(sleeper_, "AUTH %s", kPassword));
    ASSERT_NE(reply, nullptr);
    freeReplyObject(reply);
    redisContext* prober = redisConnect("127.0.0.1", port_);
    ASSERT_TRUE(prober != nullptr && prober->err == 0);
    reply = static_cast<redisReply*>(redisCommand(prober, "AUTH %s", kPassword));
    ASSERT_NE(reply, nullptr);
    freeReplyObject(reply);
    ASSERT_EQ(redisAppendCommand(sleeper_, "DEBUG SLEEP %d", seconds), REDIS_OK);
    int done = 0;
    while (done == 0) ASSERT_EQ(redisBufferWrite(sleeper_, &done), REDIS_OK);
    // Asleep when a PING goes unanswered for 100 ms.
    const timeval probe = {0, 100000};
    redisSetTimeout(prober, probe);
    bool asleep = false;
    for (int i = 0; i < 100 && !asleep; ++i) {
      reply = static_cast<redisReply*>(redisCommand(prober, "PING"));
      if (reply == nullptr) asleep = true;
      else freeReplyObject(reply);
    }
    redisFree(prober);
    ASSERT_TRUE(asleep);
  }
  void EndStall() {
    void* reply = nullptr;
    ASSERT_EQ(redisGetReply(sleeper_, &reply), REDIS_OK);
    freeReplyObject(reply);
    redisFree(sleeper_);
    sleeper_ = nullptr;
  }
  void TearDown() override {
    if (sleeper_ != nullptr) EndStall();
  }
  void WaitForKeys(std::size_t count) {
    for (int i = 0; i < 200 && admin_->Keys(prefix_).size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(admin_->Keys(prefix_).size(), count);
  }

  int port_ = 0;
  redisContext* sleeper_ = nullptr;
  std::unique_ptr<Admin> admin_;
  std::string prefix_;
};

TEST_F(WorkStoreTest, APayloadVerifiesOnceOnTheWholeFarm) {
  auto a = MakeWorker(Url()), b = MakeWorker(Url()), c = MakeWorker(Url());
  const std::string payload = SolvedPayload(a->work);
  EXPECT_EQ(Outcome(b->work, payload), WorkOutcome::kVerified);
  EXPECT_EQ(Outcome(a->work, payload), WorkOutcome::kReplayed);
  EXPECT_EQ(Outcome(c->work, payload), WorkOutcome::kReplayed);
  EXPECT_EQ(Outcome(b->work, payload), WorkOutcome::kReplayed);

  // One key, named by the secret: the prefix and an HMAC's hex, nothing of the challenge in it; it
  // lives as long as the challenge and the clock skew a farm is allowed.
  const std::vector<std::string> keys = admin_->Keys(prefix_);
  ASSERT_EQ(keys.size(), 1u);
  const std::string tail = keys[0].substr(prefix_.size());
  EXPECT_EQ(tail.size(), 64u);
  EXPECT_EQ(tail.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(payload.find(tail), std::string::npos);
  const long long ttl = std::atoll(admin_->Run({"PTTL", keys[0]}).c_str());
  EXPECT_GT(ttl, (vexorin::kDefaultWorkExpires - 5) * 1000ll);
  EXPECT_LE(ttl, (vexorin::kDefaultWorkExpires + vexorin::kWorkClockSkew) * 1000ll);

  // Another farm's secret names the same challenge differently: its processes do not collide.
  vexorin::WorkKeys ours, theirs;
  ASSERT_EQ(vexorin::MakeWorkKeys(kSecret, std::strlen(kSecret), ours), S_OK);
  ASSERT_EQ(vexorin::MakeWorkKeys("another farm", 12, theirs), S_OK);
  std::string mine, other;
  ASSERT_EQ(vexorin::StoreKeyName(ours.signing, prefix_, "sig", mine), S_OK);
  ASSERT_EQ(vexorin::StoreKeyName(theirs.signing, prefix_, "sig", other), S_OK);
  EXPECT_NE(mine, other);
}

// Once the store has let its key expire, the challenge is long past its own expiry: the key's life
// is what keeps a replay out, so a key gone early would let one in.
TEST_F(WorkStoreTest, TheKeyExpiresWithTheChallenge) {
  auto a = MakeWorker(Url()), b = MakeWorker(Url());
  ASSERT_EQ(a->work.put_Expires(vexorin::kMinWorkExpires), S_OK);
  const std::string payload = SolvedPayload(a->work);
  EXPECT_EQ(Outcome(a->work, payload), WorkOutcome::kVerified);
  const std::vector<std::string> keys = admin_->Keys(prefix_);
  ASSERT_EQ(keys.size(), 1u);
  const long long ttl = std::atoll(admin_->Run({"PTTL", keys[0]}).c_str());
  EXPECT_GT(ttl, (vexorin::kMinWorkExpires + vexorin::kWorkClockSkew - 5) * 1000ll);
  EXPECT_LE(ttl, (vexorin::kMinWorkExpires + vexorin::kWorkClockSkew) * 1000ll);
  // Made to expire now, as the server would at its time: the store forgets, the farm verifies again
  // (which is why the time must cover the challenge's life and the skew).
  ASSERT_EQ(admin_->Run({"PEXPIRE", keys[0], "1"}), "1");
  for (int i = 0; i < 200 && !admin_->Keys(prefix_).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Outcome(b->work, payload), WorkOutcome::kVerified);
}

std::int64_t FixedNow = 1800000000;
std::int64_t FixedClock() { return FixedNow; }

// Garbage costs no round trip: refused payloads get their verdict even with the store dead, and
// write nothing to a live one.
TEST_F(WorkStoreTest, OnlyPassingPayloadsReachTheStore) {
  vexorin::WorkSettings settings;
  settings.clock = &FixedClock;
  for (const std::string& url : {Url(), std::string("redis://:x@127.0.0.1:1/0?timeout=100")}) {
    SCOPED_TRACE(url);
    WorkState state(settings);
    WorkComponent work(&state);
    ASSERT_EQ(work.SetSecret(kSecret), S_OK);
    ASSERT_EQ(work.SetStore(url), S_OK);
    ASSERT_EQ(work.put_Cost(vexorin::kMinWorkCost), S_OK);
    std::string challenge;
    ASSERT_EQ(work.CreateChallenge("session", challenge), S_OK);
    nlohmann::json solved = Solve(challenge);
    const std::string good = PayloadOf(solved);
    nlohmann::json wrong = solved;
    std::string key = wrong["solution"]["derivedKey"];
    key.back() = key.back() == '0' ? '1' : '0';
    wrong["solution"]["derivedKey"] = key;
    struct Case {
      const char* what;
      std::string payload, binding;
      std::int64_t now;
      WorkOutcome outcome;
    } cases[] = {
        {"malformed", "bm90IGpzb24=", "session", FixedNow, WorkOutcome::kMalformed},
        {"wrong key", PayloadOf(wrong), "session", FixedNow, WorkOutcome::kInvalidSolution},
        {"other binding", good, "other", FixedNow, WorkOutcome::kInvalidBinding},
        {"expired", good, "session", FixedNow + vexorin::kDefaultWorkExpires + 1, WorkOutcome::kExpired},
    };
    const std::int64_t start = FixedNow;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      FixedNow = c.now;
      WorkOutcome outcome;
      EXPECT_EQ(work.Verify(c.payload.data(), c.payload.size(), c.binding, outcome), S_OK) << work.Failure();
      EXPECT_EQ(outcome, c.outcome);
      FixedNow = start;
    }
    EXPECT_TRUE(admin_->Keys(prefix_).empty());
  }
}

// Threads of one process and processes of one machine race one payload: exactly one verifies.
TEST_F(WorkStoreTest, RacersVerifyOnePayloadOnce) {
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<Worker>> workers;
  for (int i = 0; i < kThreads; ++i) workers.push_back(MakeWorker(Url()));
  const std::string payload = SolvedPayload(workers[0]->work);
  std::atomic<int> ready{0}, verified{0}, replayed{0}, other{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      WorkOutcome outcome;
      const HRESULT hr = Check(workers[static_cast<std::size_t>(i)]->work, payload, outcome);
      if (hr == S_OK && outcome == WorkOutcome::kVerified) ++verified;
      else if (hr == S_OK && outcome == WorkOutcome::kReplayed) ++replayed;
      else ++other;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(verified.load(), 1);
  EXPECT_EQ(replayed.load(), kThreads - 1);
  EXPECT_EQ(other.load(), 0);
}

// The tool, as separate processes of the farm: each run a process of its own.
TEST_F(WorkStoreTest, ProcessesRacingOnePayloadVerifyItOnce) {
  const char* tool = std::getenv("VEXORIN_TOOL");
  ASSERT_NE(tool, nullptr) << "VEXORIN_TOOL names the vexorin tool";
  auto maker = MakeWorker(Url());
  const std::string payload = SolvedPayload(maker->work);
  constexpr int kProcesses = 5;
  const std::string url = Url("timeout=5000");
  int verified = 0, refused = 0, failed = 0;
#ifdef _WIN32
  std::string command = "\"" + LocalPath(tool) + "\" --verify " + payload + " --secret \"" + kSecret +
                        "\" --cost 100 --store \"" + url + "\"";
  std::vector<PROCESS_INFORMATION> processes;
  for (int i = 0; i < kProcesses; ++i) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    processes.push_back(process);
  }
  for (PROCESS_INFORMATION& process : processes) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    (code == 0 ? verified : code == 1 ? refused : failed)++;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
#else
  std::vector<pid_t> pids;
  for (int i = 0; i < kProcesses; ++i) {
    std::vector<std::string> args = {tool, "--verify", payload, "--secret", kSecret, "--cost", "100", "--store", url};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, tool, nullptr, nullptr, argv.data(), environ), 0);
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    (code == 0 ? verified : code == 1 ? refused : failed)++;
  }
#endif
  EXPECT_EQ(verified, 1);
  EXPECT_EQ(refused, kProcesses - 1);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(admin_->Keys(prefix_).size(), 1u);
}

// A store that cannot answer gives no verdict (the platform failed, not the visitor), remembers
// nothing, and the payload still verifies once the store answers again.
TEST_F(WorkStoreTest, AStoreThatCannotAnswerFailsClosed) {
  struct Case {
    const char* what;
    std::string url;
    const char* says;
  } cases[] = {
      {"stopped (nothing listening)", "redis://:x@127.0.0.1:1/0?timeout=500&retry=0", "cannot connect"},
      {"wrong password", Url("retry=0", "not-the-password"), "password was refused"},
      {"full under noeviction", Url("retry=0"), "OOM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool full = std::string(c.says) == "OOM";
    if (full) {
      ASSERT_EQ(admin_->Run({"CONFIG", "SET", "maxmemory", "1"}), "OK");
    }
    auto worker = MakeWorker(c.url);
    const std::string payload = SolvedPayload(worker->work);
    platform::unique_bstr text(platform::MakeBstrNothrow(payload.c_str()));
    VARIANT_BOOL verified = VARIANT_TRUE;
    EXPECT_EQ(worker->work.Verify(text.get(), nullptr, &verified), vexorin::kStoreFailed);
    if (full) {
      EXPECT_EQ(admin_->Run({"CONFIG", "SET", "maxmemory", "0"}), "OK");
    }
    EXPECT_EQ(verified, VARIANT_FALSE);
    EXPECT_EQ(worker->work.LastOutcome(), WorkOutcome::kNone);
    EXPECT_NE(worker->work.Failure().find(c.says), std::string::npos) << worker->work.Failure();
    EXPECT_EQ(worker->work.Failure().find("not-the-password"), std::string::npos);
    ASSERT_EQ(worker->work.SetStore(Url()), S_OK);
    EXPECT_EQ(Outcome(worker->work, payload), WorkOutcome::kVerified);
  }
}

// A store that stalls past the timeout: no verdict, and the connection that waited is dropped.
// The server runs the late SET once it wakes, so a reused connection would read that stale "OK" as
// the answer to the next SET and verify a replay.
TEST_F(WorkStoreTest, AStalledStoreTimesOutAndItsConnectionIsNeverReused) {
  auto worker = MakeWorker(Url("timeout=200&retry=0"));
  const std::string first = SolvedPayload(worker->work), again = SolvedPayload(worker->work);
  EXPECT_EQ(Outcome(worker->work, first), WorkOutcome::kVerified);  // a connection in the pool
  Stall(3);
  WorkOutcome outcome;
  EXPECT_EQ(Check(worker->work, again, outcome), vexorin::kStoreFailed);
  EXPECT_NE(worker->work.Failure().find("gave no answer"), std::string::npos) << worker->work.Failure();
  EndStall();
  WaitForKeys(2);  // the late SET ran
  EXPECT_EQ(Outcome(worker->work, again), WorkOutcome::kReplayed);
}

// After a failure the store is left alone for its retry pause: no connection is tried, so a dead
// store does not add its timeout to every request; after the pause it is tried again.
TEST_F(WorkStoreTest, AFailedStoreRestsBeforeItIsTriedAgain) {
  auto resting = MakeWorker(Url("timeout=200&retry=600000"));
  auto brief = MakeWorker(Url("timeout=200&retry=100"));
  const std::string payload = SolvedPayload(resting->work), other = SolvedPayload(brief->work);
  Stall(2);
  WorkOutcome outcome;
  EXPECT_EQ(Check(resting->work, payload, outcome), vexorin::kStoreFailed);
  EXPECT_EQ(Check(brief->work, other, outcome), vexorin::kStoreFailed);
  EndStall();
  const long long connections = admin_->Info("total_connections_received");
  EXPECT_EQ(Check(resting->work, payload, outcome), vexorin::kStoreFailed);
  EXPECT_NE(resting->work.Failure().find("not tried again yet"), std::string::npos) << resting->work.Failure();
  EXPECT_EQ(admin_->Info("total_connections_received"), connections);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the brief pause: tried again
  EXPECT_EQ(Outcome(brief->work, other), WorkOutcome::kVerified);
  EXPECT_EQ(admin_->Info("total_connections_received"), connections + 1);
}

// Connections are few, made when needed and kept: many checks, one connection; many threads at
// once, no more than the cap.
TEST_F(WorkStoreTest, ConnectionsAreFewAndKept) {
  const long long before = admin_->Info("total_connections_received");
  auto worker = MakeWorker(Url("timeout=5000"));
  EXPECT_EQ(admin_->Info("total_connections_received"), before);  // none until needed
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Outcome(worker->work, SolvedPayload(worker->work)), WorkOutcome::kVerified);
  EXPECT_EQ(admin_->Info("total_connections_received"), before + 1);

  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<std::string> payloads;
  for (int i = 0; i < 12; ++i) {
    workers.push_back(MakeWorker(Url("timeout=5000&retry=1")));
    payloads.push_back(SolvedPayload(workers.back()->work));
  }
  const long long start = admin_->Info("total_connections_received");
  std::atomic<int> verified{0};
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < workers.size(); ++i) {
    threads.emplace_back([&, i] {
      if (Outcome(workers[i]->work, payloads[i]) == WorkOutcome::kVerified) ++verified;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(verified.load(), 12);
  EXPECT_LE(admin_->Info("total_connections_received") - start, static_cast<long long>(vexorin::kStoreConnections));
}

// A client's count is the farm's: challenges asked of one process raise the client's price at
// another. The count lives in the store under a key that names no address; a store that fails
// leaves the price to the process's own count.
TEST_F(WorkStoreTest, AClientsCountIsTheFarms) {
  const auto attempts = [](WorkComponent& work, const std::string& client) {
    std::string challenge;
    EXPECT_EQ(work.CreateChallenge("", client, challenge), S_OK);
    return nlohmann::json::parse(challenge).at("parameters").at("data").at("attempts").get<long long>();
  };
  const auto asked = [](long long cost) {  // the attempts a challenge of this cost asks
    return (cost * vexorin::kWorkCostUnit + vexorin::kWorkAttemptCost - 1) / vexorin::kWorkAttemptCost;
  };
  const long long base = asked(vexorin::kMinWorkCost);
  auto a = MakeWorker(Url()), b = MakeWorker(Url());
  for (int i = 0; i < 16; ++i) attempts(a->work, "198.51.100.7");
  EXPECT_EQ(attempts(b->work, "198.51.100.7"), asked(4 * vexorin::kMinWorkCost));  // its 17th: two doublings
  EXPECT_EQ(attempts(b->work, "198.51.100.8"), base);
  std::vector<std::string> keys = admin_->Keys(prefix_ + "client:");
  ASSERT_EQ(keys.size(), 2u);
  for (const std::string& key : keys) {
    EXPECT_EQ(key.size(), prefix_.size() + 7 + 64);
    EXPECT_EQ(key.find("198.51"), std::string::npos);
    const long long ttl = std::atoll(admin_->Run({"TTL", key}).c_str());
    EXPECT_GT(ttl, 0);
    EXPECT_LE(ttl, vexorin::kStoreCountLife);
  }
  double highest = 0;
  for (const std::string& key : keys) highest = std::max(highest, std::atof(admin_->Run({"HGET", key, "v"}).c_str()));
  EXPECT_NEAR(highest, 17, 0.1);  // decayed by the seconds the test took, at a 60 s half-life

  // The server forgot the script (a restart, SCRIPT FLUSH): it is loaded again.
  ASSERT_EQ(admin_->Run({"SCRIPT", "FLUSH"}), "OK");
  EXPECT_EQ(attempts(a->work, "198.51.100.7"), asked(4 * vexorin::kMinWorkCost));

  auto alone = MakeWorker("redis://:x@127.0.0.1:1/0?timeout=100&retry=0");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(attempts(alone->work, "203.0.113.9"), base);
  EXPECT_EQ(attempts(alone->work, "203.0.113.9"), asked(2 * vexorin::kMinWorkCost));  // its own ninth
}

// A store needs the farm's Secret; the URL is checked when it is put.
TEST(WorkStoreSettings, AStoreNeedsASecretAndAURL) {
  WorkState state;
  WorkComponent work(&state);
  ASSERT_EQ(work.SetStore("redis://127.0.0.1"), S_OK);
  std::string challenge;
  EXPECT_EQ(work.CreateChallenge("", challenge), E_INVALIDARG);
  EXPECT_NE(work.Failure().find("Secret"), std::string::npos);
  WorkOutcome outcome;
  EXPECT_EQ(work.Verify("x", 1, "", outcome), E_INVALIDARG);
  EXPECT_NE(work.Failure().find("Secret"), std::string::npos);
  ASSERT_EQ(work.SetStore(""), S_OK);  // none: today's behaviour
  EXPECT_EQ(work.CreateChallenge("", challenge), S_OK);
  EXPECT_TRUE(work.Failure().empty());

  const char* refused[] = {"", "http://host", "redis://", "redis://:@host", "redis://user@host", "redis://host:",
                           "redis://host:0", "redis://host:65536", "redis://host/x", "redis://host/0?timeout=0",
                           "redis://host?timeout=60001", "redis://host?prefix=%zz", "redis://host?colour=red",
                           "redis://host?prefix", "redis://[::1", "redis://ho st"};
  for (const char* url : refused) {
    SCOPED_TRACE(url);
    vexorin::StoreAddress address;
    EXPECT_FALSE(vexorin::ParseStoreAddress(url, address));
    if (*url != '\0') {
      EXPECT_EQ(work.SetStore(url), E_INVALIDARG);
    }
  }
  struct Case {
    const char* url;
    const char *host, *user, *password, *prefix;
    int port, database, timeout, retry;
  } cases[] = {
      {"redis://host", "host", "", "", "vexorin:", 6379, 0, 250, 1000},
      {"REDIS://:p%40ss@10.0.0.5:6380/2?prefix=site1:&timeout=100", "10.0.0.5", "", "p@ss", "site1:", 6380, 2, 100, 1000},
      {"redis://farm:secret@[::1]:7000/?retry=0&prefix=a%3Ab", "::1", "farm", "secret", "a:b", 7000, 0, 250, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    vexorin::StoreAddress a;
    ASSERT_TRUE(vexorin::ParseStoreAddress(c.url, a));
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.user, c.user);
    EXPECT_EQ(a.password, c.password);
    EXPECT_EQ(a.prefix, c.prefix);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.database, c.database);
    EXPECT_EQ(a.timeout, c.timeout);
    EXPECT_EQ(a.retry, c.retry);
  }
}

}  // namespace
