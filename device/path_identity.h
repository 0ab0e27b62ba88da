// When two device paths name the same disk. The window's refresh lower-cases every path it
// lists and the hosts accept a path in any letter case, so paths are compared, kept and looked
// up lower-cased (ASCII letters only), everywhere.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace qvb {

// ASCII letters lower-cased; every other byte kept.
inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

inline bool SamePath(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// `text` holds `part` in any letter case.
inline bool ContainsAnyCase(std::string_view text, std::string_view part) {
  return LowerCase(text).find(LowerCase(part)) != std::string::npos;
}

}  // namespace qvb
