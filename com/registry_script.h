// Registry scripts: a root key block (HKCR) of keys, each optionally with a default string value,
// named string values (`val`), children, and the flags NoRemove / ForceRemove. Portable: parsing
// knows nothing of the registry.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {guid} = s 'text'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
#pragma once

#include <map>
#include <string>
#include <vector>

namespace registry_script {

struct NamedValue {
  std::string name;
  std::string data;
};

struct Key {
  std::string name;
  bool noRemove = false;
  bool forceRemove = false;
  bool hasDefault = false;
  std::string defaultValue;
  std::vector<NamedValue> values;
  std::vector<Key> children;
};

struct RootBlock {
  std::string root;  // HKCR and the like, as written
  std::vector<Key> keys;
};

// Replaces each %name% whose name (matched without regard to case) is in `replacements`; other
// text, including unmatched %name%, stays as it is.
std::string Substitute(const std::string& script, const std::map<std::string, std::string>& replacements);

// The text with each apostrophe doubled, as a quoted string of a script must hold it.
std::string DoubleApostrophes(const std::string& text);

// Parses a script; false with a message in `error` when it is malformed.
bool Parse(const std::string& script, std::vector<RootBlock>& blocks, std::string& error);

}  // namespace registry_script
