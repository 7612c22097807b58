#pragma once
// The player's own files hold one record a line, its fields split by tabs.

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::player {

// The line's first `count` fields: split at the first `count - 1` tabs, the
// last one keeps the rest (a path, which may hold a tab). Empty when the
// line has fewer.
inline std::vector<std::string> tab_fields(const std::string& line, std::size_t count) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (parts.size() + 1 < count) {
    const auto tab = line.find('\t', at);
    if (tab == std::string::npos) return {};
    parts.push_back(line.substr(at, tab - at));
    at = tab + 1;
  }
  parts.push_back(line.substr(at));
  return parts;
}

// A decimal field; 0 when it holds none.
inline std::int64_t integer_field(const std::string& text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace zv::player
