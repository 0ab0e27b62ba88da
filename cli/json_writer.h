// A small JSON writer: objects, arrays, strings, integers, booleans and null, indented by two
// blanks. Strings are taken as bytes: anything outside printable ASCII is written as \u00XX, so
// the document is plain ASCII whatever a device returned.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvb::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // Inside an object: the name of the next value.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view value);
  JsonWriter& Int(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The document, ending in a line feed once the outermost value is closed.
  const std::string& text() const { return text_; }

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void NewLine();

  struct Level {
    bool empty = true;
  };
  std::string text_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

// Appends `value` as a JSON string literal, quotes included.
void AppendJsonString(std::string& out, std::string_view value);

}  // namespace qvb::cli
