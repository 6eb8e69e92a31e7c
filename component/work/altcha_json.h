// ALTCHA's JSON: the canonical text a challenge's parameters are signed as (JSON.stringify's, keys
// sorted), a parser with a nesting cap, the typed readers the check uses, and hex both ways.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexorin {

using Json = nlohmann::json;

// JSON.stringify's text of a parsed value with every object's keys sorted, as ALTCHA signs it.
// Strings, integers, booleans and null come out as JavaScript writes them; other numbers may not
// (a payload holding them fails the signature, never passes it). Throws std::bad_alloc.
std::string CanonicalJson(const std::string& json, bool& parsed);
void AppendCanonical(std::string& out, const Json& value);
// As JSON.stringify writes a string: only quotes, backslashes and control characters escaped.
void AppendJsonString(std::string& out, const std::string& text);

// False for text that is not JSON or nests deeper than the payload ever needs.
bool ParseJson(const std::string& text, Json& value);

// A JSON integer (or an integral number written with a fraction, as JavaScript reads it) in lo..hi.
bool IntegerIn(const Json& value, std::int64_t lo, std::int64_t hi, std::int64_t& out);
// An object's member, or null when `object` is no object or lacks it.
const Json* Member(const Json& object, const char* name);
const std::string* StringMember(const Json& object, const char* name);

std::string Hex(const unsigned char* bytes, std::size_t size);
// Either case; false for odd lengths and other characters.
bool FromHex(const std::string& text, std::vector<unsigned char>& bytes);
bool IsLowerHex(const std::string& text);

}  // namespace vexorin
