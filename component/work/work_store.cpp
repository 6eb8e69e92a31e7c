#include "component/work/work_store.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include <hiredis/hiredis.h>

#include "component/work/altcha_json.h"
#include "component/work/work_pricing.h"
#include "platform/crypto.h"

namespace vexorin {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecoded(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// Digits only, lo..hi.
bool NumberIn(const std::string& text, long lo, long hi, int& value) {
  if (text.empty() || text.size() > 9) return false;
  long n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < lo || n > hi) return false;
  value = static_cast<int>(n);
  return true;
}

struct ReplyOwner {
  redisReply* reply;
  ~ReplyOwner() {
    if (reply != nullptr) freeReplyObject(reply);
  }
};

// One command, binary-safe; the reply (null when the connection failed) in `owner`.
void Command(redisContext* context, std::initializer_list<std::string> args, ReplyOwner& owner) {
  std::vector<const char*> argv;
  std::vector<size_t> lengths;
  for (const std::string& arg : args) {
    argv.push_back(arg.data());
    lengths.push_back(arg.size());
  }
  owner.reply = static_cast<redisReply*>(
      redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data()));
}

std::string ReplyText(const redisReply* reply) {
  return reply->str != nullptr ? std::string(reply->str, reply->len) : std::string();
}

}  // namespace

bool ParseStoreAddress(const std::string& url, StoreAddress& address) {
  StoreAddress a;
  static const char scheme[] = "redis://";
  if (url.size() < sizeof scheme - 1) return false;
  for (std::size_t i = 0; i < sizeof scheme - 1; ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != scheme[i]) return false;
  }
  const std::size_t start = sizeof scheme - 1;
  const std::size_t end = url.find_first_of("/?", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string userinfo = authority.substr(0, at);
    const std::size_t colon = userinfo.find(':');
    if (colon == std::string::npos || !PercentDecoded(userinfo.substr(0, colon), a.user) ||
        !PercentDecoded(userinfo.substr(colon + 1), a.password) || a.password.empty()) {
      return false;
    }
    authority.erase(0, at + 1);
  }
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    a.host = authority.substr(1, close - 1);
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || (port = rest.substr(1)).empty())) return false;
  } else {
    const std::size_t colon = authority.find(':');
    a.host = authority.substr(0, colon);
    if (colon != std::string::npos && (port = authority.substr(colon + 1)).empty()) return false;
  }
  if (a.host.empty() || a.host.find_first_of("[]@ ") != std::string::npos) return false;
  if (!port.empty() && !NumberIn(port, 1, 65535, a.port)) return false;
  std::string rest = end == std::string::npos ? std::string() : url.substr(end);
  if (!rest.empty() && rest[0] == '/') {
    const std::size_t query = rest.find('?');
    const std::string path = rest.substr(1, query == std::string::npos ? std::string::npos : query - 1);
    if (!path.empty() && !NumberIn(path, 0, 9999, a.database)) return false;
    rest = query == std::string::npos ? std::string() : rest.substr(query);
  }
  if (!rest.empty()) {
    std::size_t position = 1;  // after '?'
    while (position <= rest.size()) {
      std::size_t amp = rest.find('&', position);
      if (amp == std::string::npos) amp = rest.size();
      const std::string pair = rest.substr(position, amp - position);
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos) return false;
      const std::string name = pair.substr(0, equals), value = pair.substr(equals + 1);
      if (name == "prefix") {
        if (!PercentDecoded(value, a.prefix)) return false;
      } else if (name == "timeout") {
        if (!NumberIn(value, 1, kStoreMaxTimeout, a.timeout)) return false;
      } else if (name == "retry") {
        if (!NumberIn(value, 0, kStoreMaxRetry, a.retry)) return false;
      } else {
        return false;
      }
      position = amp + 1;
    }
  }
  address = std::move(a);
  return true;
}

RedisStore::~RedisStore() {
  for (redisContext* context : idle_) redisFree(context);
}

std::string RedisStore::Where() const {
  const bool v6 = address_.host.find(':') != std::string::npos;
  return (v6 ? "[" + address_.host + "]" : address_.host) + ":" + std::to_string(address_.port);
}

redisContext* RedisStore::Connect(std::string& failure) {
  timeval timeout;
  timeout.tv_sec = address_.timeout / 1000;
  timeout.tv_usec = (address_.timeout % 1000) * 1000;
  redisOptions options;
  std::memset(&options, 0, sizeof options);
  REDIS_OPTIONS_SET_TCP(&options, address_.host.c_str(), address_.port);
  options.connect_timeout = &timeout;
  options.command_timeout = &timeout;
  redisContext* context = redisConnectWithOptions(&options);
  if (context == nullptr) {
    failure = "no memory for a connection";
    return nullptr;
  }
  if (context->err != 0) {
    failure = std::string("cannot connect: ") + context->errstr;
    redisFree(context);
    return nullptr;
  }
  ReplyOwner owner{nullptr};
  if (!address_.password.empty()) {
    if (address_.user.empty()) Command(context, {"AUTH", address_.password}, owner);
    else Command(context, {"AUTH", address_.user, address_.password}, owner);
    if (owner.reply == nullptr || owner.reply->type != REDIS_REPLY_STATUS) {
      failure = owner.reply == nullptr ? std::string("no answer to AUTH: ") + context->errstr
                                       : "the password was refused: " + ReplyText(owner.reply);
      redisFree(context);
      return nullptr;
    }
  }
  if (address_.database != 0) {
    ReplyOwner selected{nullptr};
    Command(context, {"SELECT", std::to_string(address_.database)}, selected);
    if (selected.reply == nullptr || selected.reply->type != REDIS_REPLY_STATUS) {
      failure = selected.reply == nullptr ? std::string("no answer to SELECT: ") + context->errstr
                                          : "database " + std::to_string(address_.database) +
                                                " refused: " + ReplyText(selected.reply);
      redisFree(context);
      return nullptr;
    }
  }
  return context;
}

redisContext* RedisStore::Take(std::string& failure) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(address_.timeout);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now < pausedUntil_) {
      failure = "failed less than " + std::to_string(address_.retry) + " ms ago (" + lastFailure_ +
                "); not tried again yet";
      return nullptr;
    }
    if (!idle_.empty()) {
      redisContext* context = idle_.back();
      idle_.pop_back();
      return context;
    }
    if (live_ < kStoreConnections) break;
    // Every connection busy: a command's turn, no more (one connection never serves two at once).
    if (freed_.wait_until(lock, deadline) == std::cv_status::timeout && idle_.empty() && live_ >= kStoreConnections) {
      failure = "all " + std::to_string(kStoreConnections) + " connections stayed busy";
      return nullptr;
    }
  }
  ++live_;
  lock.unlock();
  redisContext* context = Connect(failure);
  if (context == nullptr) Give(nullptr, false, failure);
  return context;
}

void RedisStore::Give(redisContext* context, bool healthy, const std::string& failure) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (healthy) {
      idle_.push_back(context);
    } else {
      --live_;
      pausedUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(address_.retry);
      lastFailure_ = failure;
    }
  }
  if (!healthy && context != nullptr) redisFree(context);
  freed_.notify_one();
}

void* RedisStore::Run(const std::vector<std::string>& args, std::string& failure) {
  std::string why;
  redisContext* context = Take(why);
  if (context == nullptr) {
    failure = "The farm's store at " + Where() + " " + why;
    return nullptr;
  }
  std::vector<const char*> argv;
  std::vector<size_t> lengths;
  for (const std::string& arg : args) {
    argv.push_back(arg.data());
    lengths.push_back(arg.size());
  }
  void* reply = redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data());
  if (reply == nullptr) {
    why = std::string("gave no answer: ") + context->errstr;
    Give(context, false, why);
    failure = "The farm's store at " + Where() + " " + why;
    return nullptr;
  }
  // An error reply (OOM when full under noeviction, READONLY from a replica) leaves the connection
  // in step: it is kept.
  Give(context, true, why);
  return reply;
}

HRESULT RedisStore::AddIfAbsent(const std::string& key, std::int64_t milliseconds, bool& added, std::string& failure) {
  added = false;
  ReplyOwner owner{static_cast<redisReply*>(
      Run({"SET", key, "1", "NX", "PX", std::to_string(milliseconds < 1 ? 1 : milliseconds)}, failure))};
  if (owner.reply == nullptr) return kStoreFailed;
  switch (owner.reply->type) {
    case REDIS_REPLY_STATUS:
      added = true;
      return S_OK;
    case REDIS_REPLY_NIL:
      return S_OK;
    default:
      failure = "The farm's store at " + Where() + " refused to record the challenge: " + ReplyText(owner.reply);
      return kStoreFailed;
  }
}

namespace {

// Read, decay by the server's clock, add one and keep, in one step: the count is a hash of its value
// and the time it was last taken. Numbers go back as text (a script's numbers become integers).
constexpr const char* kCountScript =
    "local t = redis.call('TIME')\n"
    "local now = tonumber(t[1]) + tonumber(t[2]) / 1000000\n"
    "local kept = redis.call('HMGET', KEYS[1], 'v', 't')\n"
    "local value, last = tonumber(kept[1]) or 0, tonumber(kept[2]) or now\n"
    "if now > last then value = value * math.pow(2, -(now - last) / tonumber(ARGV[1])) else now = last end\n"
    "value = value + 1\n"
    "redis.call('HSET', KEYS[1], 'v', string.format('%.17g', value), 't', string.format('%.17g', now))\n"
    "redis.call('EXPIRE', KEYS[1], ARGV[2])\n"
    "return string.format('%.17g', value)\n";

}  // namespace

HRESULT RedisStore::CountClient(const std::string& key, double& count, std::string& failure) {
  std::string sha;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sha = scriptSha_;
  }
  const std::string halfLife = std::to_string(static_cast<int>(kPriceHalfLife)), life = std::to_string(kStoreCountLife);
  ReplyOwner owner{nullptr};
  if (!sha.empty()) owner.reply = static_cast<redisReply*>(Run({"EVALSHA", sha, "1", key, halfLife, life}, failure));
  if (sha.empty() || (owner.reply != nullptr && owner.reply->type == REDIS_REPLY_ERROR &&
                      ReplyText(owner.reply).rfind("NOSCRIPT", 0) == 0)) {
    // Not loaded yet, or the server forgot it (a restart): EVAL runs it and caches it again.
    if (owner.reply != nullptr) freeReplyObject(owner.reply);
    owner.reply = static_cast<redisReply*>(Run({"SCRIPT", "LOAD", kCountScript}, failure));
    if (owner.reply == nullptr) return kStoreFailed;
    if (owner.reply->type == REDIS_REPLY_STRING) {
      std::lock_guard<std::mutex> lock(mutex_);
      scriptSha_ = ReplyText(owner.reply);
      sha = scriptSha_;
    }
    freeReplyObject(owner.reply);
    owner.reply = static_cast<redisReply*>(Run({"EVAL", kCountScript, "1", key, halfLife, life}, failure));
  }
  if (owner.reply == nullptr) return kStoreFailed;
  if (owner.reply->type != REDIS_REPLY_STRING) {
    failure = "The farm's store at " + Where() + " refused to count the client: " + ReplyText(owner.reply);
    return kStoreFailed;
  }
  const std::string text = ReplyText(owner.reply);
  char* end = nullptr;
  count = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(count >= 0)) {
    failure = "The farm's store at " + Where() + " gave a count that is no number";
    return kStoreFailed;
  }
  return S_OK;
}

HRESULT SharedStore(const std::string& url, std::shared_ptr<WorkStore>& store) {
  StoreAddress address;
  if (!ParseStoreAddress(url, address)) return E_INVALIDARG;
  // Kept for the process's life (never destroyed: no socket is closed while the DLL detaches). A
  // page that names many stores gets the first few shared, the rest its own.
  constexpr std::size_t kSharedStores = 16;
  static std::mutex& mutex = *new std::mutex;
  static auto& stores = *new std::map<std::string, std::shared_ptr<WorkStore>>;
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = stores.find(url);
  if (found != stores.end()) {
    store = found->second;
    return S_OK;
  }
  auto made = std::make_shared<RedisStore>(std::move(address));
  if (stores.size() < kSharedStores) stores.emplace(url, made);
  store = std::move(made);
  return S_OK;
}

HRESULT StoreKeyName(const SecretBytes& signing, const std::string& prefix, const std::string& signature,
                     std::string& name) {
  static const char label[] = "vexorin farm store";
  unsigned char key[platform::kSha256Bytes], mac[platform::kSha256Bytes];
  HRESULT hr = platform::HmacSha256(signing.data(), signing.size(), label, sizeof label - 1, key);
  if (SUCCEEDED(hr)) hr = platform::HmacSha256(key, sizeof key, signature.data(), signature.size(), mac);
  platform::SecureZero(key, sizeof key);
  if (SUCCEEDED(hr)) name = prefix + Hex(mac, sizeof mac);
  return hr;
}

}  // namespace vexorin
