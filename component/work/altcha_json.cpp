#include "component/work/altcha_json.h"

#include <cmath>
#include <cstdio>

namespace vexorin {

namespace {

constexpr int kMaxJsonDepth = 16;  // the payload nests three deep; the serializer below recurses

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Nesting deeper than kMaxJsonDepth, counted on the raw text before the parser sees it.
bool TooDeep(const std::string& text) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[bytes[i] >> 4];
    text[2 * i + 1] = digits[bytes[i] & 15];
  }
  return text;
}

bool FromHex(const std::string& text, std::vector<unsigned char>& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.resize(text.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

bool IsLowerHex(const std::string& text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", u);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// Keys come sorted by UTF-8 bytes (the object's map), JavaScript sorts UTF-16 units: the same order
// but for keys mixing U+E000..U+FFFF with characters beyond U+FFFF, which fail the signature.
void AppendCanonical(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& item : value.items()) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, item.key());
        out += ':';
        AppendCanonical(out, item.value());
      }
      out += '}';
      break;
    }
    case Json::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : value) {
        if (!first) out += ',';
        first = false;
        AppendCanonical(out, item);
      }
      out += ']';
      break;
    }
    case Json::value_t::string: AppendJsonString(out, value.get_ref<const std::string&>()); break;
    case Json::value_t::number_float: {
      const double x = value.get<double>();
      if (std::isfinite(x) && std::floor(x) == x && std::fabs(x) < 1e15) {
        out += std::to_string(static_cast<long long>(x));  // JavaScript writes 5.0 as 5, -0 as 0
      } else {
        out += value.dump();
      }
      break;
    }
    default: out += value.dump(); break;  // integers, booleans, null
  }
}

bool ParseJson(const std::string& text, Json& value) {
  if (TooDeep(text)) return false;
  value = Json::parse(text, nullptr, false);
  return !value.is_discarded();
}

std::string CanonicalJson(const std::string& json, bool& parsed) {
  Json value;
  parsed = ParseJson(json, value);
  std::string out;
  if (parsed) AppendCanonical(out, value);
  return out;
}

bool IntegerIn(const Json& value, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(hi)) return false;
    out = static_cast<std::int64_t>(v);
  } else if (value.is_number_integer()) {
    out = value.get<std::int64_t>();
  } else if (value.is_number_float()) {
    const double v = value.get<double>();
    if (!(std::floor(v) == v) || v < static_cast<double>(lo) || v > static_cast<double>(hi)) return false;
    out = static_cast<std::int64_t>(v);
  } else {
    return false;
  }
  return out >= lo && out <= hi;
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

const std::string* StringMember(const Json& object, const char* name) {
  const Json* value = Member(object, name);
  return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

}  // namespace vexorin
