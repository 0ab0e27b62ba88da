// A tiny JSON reader for the tests: enough to parse the command line's documents back and look
// at their members. Numbers are integers (the documents hold no others); \u escapes below 0x100
// become one byte, as the writer makes them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qvb::cli::test {

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  int64_t number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  std::vector<std::string> order;  // member names in document order

  bool is(Kind k) const { return kind == k; }
  bool has(const std::string& name) const { return members.count(name) != 0; }
  const Json& operator[](const std::string& name) const {
    static const Json missing;
    auto it = members.find(name);
    return it == members.end() ? missing : it->second;
  }
  const Json& operator[](std::size_t index) const { return items.at(index); }
};

class JsonReader {
 public:
  // False when `text` is not exactly one JSON value (surrounding blanks allowed).
  static bool Parse(const std::string& text, Json& value) {
    JsonReader reader(text);
    if (!reader.Value(value)) return false;
    reader.Blanks();
    return reader.at_ == text.size();
  }

 private:
  explicit JsonReader(const std::string& text) : s_(text) {}

  void Blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool Eat(char c) {
    Blanks();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const std::string w(word);
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (at_ + 4 > s_.size()) return false;
          const unsigned long code = std::stoul(s_.substr(at_, 4), nullptr, 16);
          at_ += 4;
          if (code > 0xFF) return false;
          out += static_cast<char>(code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool Value(Json& v) {
    Blanks();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') {
      ++at_;
      v.kind = Json::Kind::Object;
      if (Eat('}')) return true;
      do {
        std::string name;
        Json member;
        Blanks();
        if (!String(name) || !Eat(':') || !Value(member)) return false;
        if (v.members.count(name)) return false;  // a name twice is a fault of the writer
        v.order.push_back(name);
        v.members.emplace(name, std::move(member));
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++at_;
      v.kind = Json::Kind::Array;
      if (Eat(']')) return true;
      do {
        Json item;
        if (!Value(item)) return false;
        v.items.push_back(std::move(item));
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') {
      v.kind = Json::Kind::String;
      return String(v.text);
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      v.kind = Json::Kind::Bool;
      v.boolean = s_[at_ - 1] == 'e' && s_[at_ - 2] == 'u';
      return true;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t used = 0;
      v.kind = Json::Kind::Number;
      v.number = std::stoll(s_.substr(at_), &used);
      at_ += used;
      return used > 0;
    }
    return false;
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

}  // namespace qvb::cli::test
