// What a farm shares: a store that every process of every server asks before a challenge counts as
// verified, so that a payload verifies once on the whole farm. A Redis server (or a compatible one)
// named by a URL, reached through hiredis: one atomic SET NX PX per verified payload, its key an
// HMAC under a key derived from the farm's shared secret, so every process names a challenge alike
// and nobody who sees the keys learns anything. When the store cannot answer, the caller fails
// closed: no verdict rather than a replay let through.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "component/work/work_keys.h"
#include "platform/platform.h"

struct redisContext;

namespace vexorin {

// The store could not answer (unreachable, stalled past its timeout, refused the password, full):
// no verdict. An interface-specific code of ours, so a page can tell it from its own mistakes.
constexpr HRESULT kStoreFailed = static_cast<HRESULT>(0x80040201u);

constexpr int kStoreDefaultPort = 6379;
constexpr int kStoreDefaultTimeout = 250;    // milliseconds for a connection and for each command
constexpr int kStoreMaxTimeout = 60000;
constexpr int kStoreDefaultRetry = 1000;     // milliseconds before a failed store is tried again
constexpr int kStoreMaxRetry = 600000;
constexpr unsigned kStoreConnections = 4;    // at most, per store and process
constexpr const char* kStoreDefaultPrefix = "vexorin:";
constexpr int kStoreCountLife = 600;         // seconds: ten half-lives, a count below a thousandth

// redis://[[user]:password@]host[:port][/db][?prefix=P&timeout=MS&retry=MS]; user, password and
// prefix percent-decoded; a host in brackets is an IPv6 address.
struct StoreAddress {
  std::string host, user, password, prefix = kStoreDefaultPrefix;
  int port = kStoreDefaultPort;
  int database = 0;
  int timeout = kStoreDefaultTimeout, retry = kStoreDefaultRetry;
};
// False for anything else (an unknown setting too: a typo must not pass unseen).
bool ParseStoreAddress(const std::string& url, StoreAddress& address);

// An atomic insert-if-absent with an expiry, as a farm's store offers it. Thread-safe.
class WorkStore {
 public:
  virtual ~WorkStore() = default;
  // `added` true when this call recorded `key` for `milliseconds`, false when it was there already.
  // kStoreFailed with `failure` saying why when the store gave no answer.
  virtual HRESULT AddIfAbsent(const std::string& key, std::int64_t milliseconds, bool& added,
                              std::string& failure) = 0;
  // Adds one to the decaying count kept under `key` (halving every kPriceHalfLife seconds by the
  // store's own clock, forgotten after kStoreCountLife seconds without one) and gives the new count.
  virtual HRESULT CountClient(const std::string& key, double& count, std::string& failure) = 0;
  virtual const std::string& Prefix() const = 0;
};

// A Redis server through a few connections of this process, made when first needed. A connection
// that failed is closed, never reused (a late reply would answer the next command), and the store
// is not tried again for `retry` milliseconds, so a dead store does not add its timeout to every
// request.
class RedisStore final : public WorkStore {
 public:
  explicit RedisStore(StoreAddress address) : address_(std::move(address)) {}
  ~RedisStore() override;
  RedisStore(const RedisStore&) = delete;
  RedisStore& operator=(const RedisStore&) = delete;
  HRESULT AddIfAbsent(const std::string& key, std::int64_t milliseconds, bool& added, std::string& failure) override;
  HRESULT CountClient(const std::string& key, double& count, std::string& failure) override;
  const std::string& Prefix() const override { return address_.prefix; }

 private:
  // Runs one command on a connection of the pool; the reply (owned by the caller, freed with
  // freeReplyObject) or null with `failure` set when the store gave no answer.
  void* Run(const std::vector<std::string>& args, std::string& failure);
  redisContext* Take(std::string& failure);
  redisContext* Connect(std::string& failure);
  void Give(redisContext* context, bool healthy, const std::string& failure);
  std::string Where() const;
  StoreAddress address_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<redisContext*> idle_;
  unsigned live_ = 0;  // connections open, idle or in use
  std::chrono::steady_clock::time_point pausedUntil_{};
  std::string lastFailure_;
  std::string scriptSha_;  // the count script's SHA-1 as the server named it; empty until loaded
};

// The process's store for `url`, one per URL so that every object shares its connections; null
// (E_INVALIDARG) when the URL does not parse.
HRESULT SharedStore(const std::string& url, std::shared_ptr<WorkStore>& store);

// The store's name for a challenge: the prefix, then the hex of an HMAC of its signature under a
// key derived from the signing key (the farm's shared Secret).
HRESULT StoreKeyName(const SecretBytes& signing, const std::string& prefix, const std::string& signature,
                     std::string& name);

}  // namespace vexorin
