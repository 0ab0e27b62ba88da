// The command line's documents read back with nlohmann-json, as values the tests look into.
// Strings come back as the bytes the writer took them from: each character below U+0100 is one
// byte (the writer turns every device byte into the character of the same number).
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
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
  // False when `text` is not exactly one JSON value, names a member twice, or holds a character
  // beyond U+00FF (the writer makes none).
  static bool Parse(const std::string& text, Json& value) {
    std::vector<std::set<std::string>> names;  // of each open object
    bool twice = false;
    const auto parsed = nlohmann::ordered_json::parse(
        text,
        [&](int, nlohmann::ordered_json::parse_event_t event,
            nlohmann::ordered_json& parsed_value) {
          using Event = nlohmann::ordered_json::parse_event_t;
          if (event == Event::object_start) names.emplace_back();
          if (event == Event::object_end && !names.empty()) names.pop_back();
          if (event == Event::key && !names.empty() &&
              !names.back().insert(parsed_value.get<std::string>()).second)
            twice = true;
          return true;
        },
        false);
    return !parsed.is_discarded() && !twice && Convert(parsed, value);
  }

 private:
  static bool Convert(const nlohmann::ordered_json& from, Json& to) {
    using Kind = Json::Kind;
    switch (from.type()) {
      case nlohmann::json::value_t::null:
        to.kind = Kind::Null;
        return true;
      case nlohmann::json::value_t::boolean:
        to.kind = Kind::Bool;
        to.boolean = from.get<bool>();
        return true;
      case nlohmann::json::value_t::number_integer:
      case nlohmann::json::value_t::number_unsigned:
        to.kind = Kind::Number;
        to.number = from.get<int64_t>();
        return true;
      case nlohmann::json::value_t::string:
        to.kind = Kind::String;
        return Bytes(from.get_ref<const std::string&>(), to.text);
      case nlohmann::json::value_t::array:
        to.kind = Kind::Array;
        for (const auto& item : from)
          if (!Convert(item, to.items.emplace_back())) return false;
        return true;
      case nlohmann::json::value_t::object:
        to.kind = Kind::Object;
        for (const auto& [name, member] : from.items()) {
          to.order.push_back(name);
          if (!Convert(member, to.members[name])) return false;
        }
        return true;
      default:
        return false;  // the documents hold integers only
    }
  }

  // UTF-8 as the parser gives it, back to one byte per character.
  static bool Bytes(const std::string& utf8, std::string& bytes) {
    for (std::size_t i = 0; i < utf8.size(); ++i) {
      const auto lead = static_cast<unsigned char>(utf8[i]);
      if (lead < 0x80) {
        bytes += static_cast<char>(lead);
      } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
        const auto next = static_cast<unsigned char>(utf8[++i]);
        bytes += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
      } else {
        return false;
      }
    }
    return true;
  }
};

}  // namespace qvb::cli::test
