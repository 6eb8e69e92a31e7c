#include "com/registry_script.h"

#include <cctype>

namespace registry_script {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Token {
  enum Kind { End, Word, Quoted, Open, Close, Equals } kind;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  bool Next(Token& token, std::string& error) {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ >= text_.size()) {
      token = {Token::End, ""};
      return true;
    }
    const char c = text_[pos_];
    if (c == '\'') {
      std::string out;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) {
          error = "unterminated quoted string";
          return false;
        }
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {  // '' stands for one apostrophe
            out += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        out += text_[pos_++];
      }
      token = {Token::Quoted, out};
      return true;
    }
    // A word runs to the next blank; a lone { } or = is punctuation ({guid} is a word).
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    const std::string word = text_.substr(start, pos_ - start);
    if (word == "{") {
      token = {Token::Open, word};
    } else if (word == "}") {
      token = {Token::Close, word};
    } else if (word == "=") {
      token = {Token::Equals, word};
    } else {
      token = {Token::Word, word};
    }
    return true;
  }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(const std::string& text) : lexer_(text) {}

  bool Script(std::vector<RootBlock>& blocks, std::string& error) {
    if (!Advance(error)) return false;
    while (token_.kind != Token::End) {
      if (token_.kind != Token::Word) return Fail("a root key name was expected", error);
      RootBlock block;
      block.root = token_.text;
      if (!Advance(error)) return false;
      if (token_.kind != Token::Open) return Fail("'{' was expected after the root key", error);
      if (!Advance(error)) return false;
      if (!Body(block.keys, nullptr, 0, error)) return false;
      blocks.push_back(std::move(block));
    }
    return true;
  }

 private:
  static constexpr int kMaxDepth = 64;

  bool Fail(const char* message, std::string& error) {
    error = message;
    return false;
  }
  bool Advance(std::string& error) { return lexer_.Next(token_, error); }

  // Name token: a word or a quoted string.
  bool Name(std::string& name, std::string& error) {
    if (token_.kind != Token::Word && token_.kind != Token::Quoted) return Fail("a name was expected", error);
    name = token_.text;
    return Advance(error);
  }

  // '= s <quoted>'
  bool Assignment(std::string& data, std::string& error) {
    if (!Advance(error)) return false;  // past '='
    if (token_.kind != Token::Word || (token_.text != "s" && token_.text != "S")) {
      return Fail("only string values (s) are supported", error);
    }
    if (!Advance(error)) return false;
    if (token_.kind != Token::Quoted) return Fail("a quoted value was expected", error);
    data = token_.text;
    return Advance(error);
  }

  // Keys and values up to the closing '}' (consumed).
  bool Body(std::vector<Key>& keys, std::vector<NamedValue>* values, int depth, std::string& error) {
    if (depth > kMaxDepth) return Fail("keys nested too deeply", error);
    for (;;) {
      if (token_.kind == Token::Close) return Advance(error);
      if (token_.kind == Token::End) return Fail("'}' is missing", error);
      if (token_.kind == Token::Word && Upper(token_.text) == "VAL") {
        if (values == nullptr) return Fail("a value needs a key", error);
        if (!Advance(error)) return false;
        NamedValue v;
        if (!Name(v.name, error)) return false;
        if (token_.kind != Token::Equals) return Fail("'=' was expected after the value name", error);
        if (!Assignment(v.data, error)) return false;
        values->push_back(std::move(v));
        continue;
      }
      Key key;
      for (bool flag = true; flag && token_.kind == Token::Word;) {
        const std::string word = Upper(token_.text);
        if (word == "NOREMOVE") {
          key.noRemove = true;
        } else if (word == "FORCEREMOVE") {
          key.forceRemove = true;
        } else {
          flag = false;
          continue;
        }
        if (!Advance(error)) return false;
      }
      if (!Name(key.name, error)) return false;
      if (key.name.empty()) return Fail("a key name is empty", error);
      if (token_.kind == Token::Equals) {
        key.hasDefault = true;
        if (!Assignment(key.defaultValue, error)) return false;
      }
      if (token_.kind == Token::Open) {
        if (!Advance(error)) return false;
        if (!Body(key.children, &key.values, depth + 1, error)) return false;
      }
      keys.push_back(std::move(key));
    }
  }

  Lexer lexer_;
  Token token_{Token::End, ""};
};

}  // namespace

std::string Substitute(const std::string& script, const std::map<std::string, std::string>& replacements) {
  std::map<std::string, std::string> upper;
  for (const auto& [name, value] : replacements) upper[Upper(name)] = value;
  std::string out;
  out.reserve(script.size());
  for (std::size_t i = 0; i < script.size();) {
    if (script[i] == '%') {
      const std::size_t end = script.find('%', i + 1);
      if (end != std::string::npos) {
        const auto found = upper.find(Upper(script.substr(i + 1, end - i - 1)));
        if (found != upper.end()) {
          out += found->second;
          i = end + 1;
          continue;
        }
      }
    }
    out += script[i++];
  }
  return out;
}

std::string DoubleApostrophes(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

bool Parse(const std::string& script, std::vector<RootBlock>& blocks, std::string& error) {
  blocks.clear();
  Parser parser(script);
  return parser.Script(blocks, error);
}

}  // namespace registry_script
