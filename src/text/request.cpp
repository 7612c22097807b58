#include "text/request.h"

#include "text/encoding.h"

#include <algorithm>

namespace zv {
namespace {

// Only the 26 ASCII capitals fold; every other value compares with itself.
template <typename Char>
Char fold(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <typename Char>
int terminated_length(const Char* text) {
  return static_cast<int>(std::char_traits<Char>::length(text));
}

template <typename Char>
std::optional<int> find_no_case_in(const Char* text, const Char* key, int start, int limit) {
  if (!text || !key) return std::nullopt;
  const int n = limit != 0 ? limit : terminated_length(text);
  const int key_length = terminated_length(key);
  if (n <= 0 || start < 0 || key_length == 0 || key_length > n) return std::nullopt;
  int matched = 0;
  for (int i = start; i < n; ++i) {
    if (fold(text[i]) == fold(key[matched])) {
      if (++matched == key_length) return i - matched + 1;
    } else {
      matched = 0;
    }
  }
  return std::nullopt;
}

bool ends_target(char c) { return c == '?' || c == ' ' || c == '\r' || c == '\n'; }
bool ends_query(char c) { return c == ' ' || c == '\r' || c == '\n'; }

constexpr const char* REQUEST_LINE_START = "get /";
constexpr int REQUEST_LINE_START_LENGTH = 5;

// Offset of the first byte after "get /", or none.
std::optional<int> target_start(const char* bytes, int count) {
  if (!bytes || count <= 0) return std::nullopt;
  const auto found = find_no_case(bytes, REQUEST_LINE_START, 0, count);
  if (!found) return std::nullopt;
  return *found + REQUEST_LINE_START_LENGTH;
}

// Steps 2 to 5 of the parameter lookup: the value's range in `query`.
template <typename Char>
std::optional<std::pair<int, int>> find_param(const Char* key, const Char* query) {
  if (!key || !query || key[0] == 0 || query[0] == 0) return std::nullopt;
  const int key_length = terminated_length(key);
  int from = 0;
  for (;;) {
    const auto at = find_no_case_in(query, key, from, 0);
    if (!at) return std::nullopt;
    from = *at + 1;
    const int after = *at + key_length;
    if ((*at == 0 || query[*at - 1] == '&') && query[after] == '=') {
      int end = after + 1;
      while (query[end] != 0 && query[end] != '&') ++end;
      return std::pair{after + 1, end - (after + 1)};
    }
  }
}

int hex_digit_value(unsigned char b) {
  if (b >= '0' && b <= '9') return b - '0';
  return (fold(b) - 87) & 0xF;
}

}  // namespace

std::optional<int> find_no_case(const char* text, const char* key, int start, int limit) {
  return find_no_case_in(text, key, start, limit);
}

std::optional<int> find_no_case_wide(const char16_t* text, const char16_t* key, int start, int limit) {
  return find_no_case_in(text, key, start, limit);
}

std::optional<std::u16string> request_path(const char* bytes, int count) {
  const auto start = target_start(bytes, count);
  if (!start) return std::nullopt;
  int end = *start;
  while (end < count && !ends_target(bytes[end])) ++end;
  if (end == *start) return std::nullopt;
  auto path = ansi_to_wide(bytes + *start, end - *start);
  // Like every text the server passes on, the path ends at its first NUL:
  // what is checked for ".php" is what the interpreter is told to run.
  if (path) path->resize(std::char_traits<char16_t>::length(path->c_str()));
  if (path && path->empty()) return std::nullopt;
  return path;
}

QueryRange query_range(const char* bytes, int count) {
  const auto start = target_start(bytes, count);
  if (!start) return {};
  int at = *start;
  while (at < count && !ends_target(bytes[at])) ++at;
  if (at >= count || bytes[at] != '?') return {};
  const int query_start = at + 1;
  int end = query_start;
  while (end < count && !ends_query(bytes[end])) ++end;
  return {query_start, end - query_start};
}

std::optional<std::string> query_text(const char* bytes, int count) {
  const QueryRange range = query_range(bytes, count);
  if (range.start == 0 || range.length == 0) return std::nullopt;
  return std::string(bytes + range.start, static_cast<std::size_t>(range.length));
}

std::optional<std::u16string> query_param(const char* key, const char* query) {
  const auto value = find_param(key, query);
  if (!value || value->second == 0) return std::nullopt;
  const auto decoded = percent_decode(query + value->first, value->second);
  if (!decoded) return std::nullopt;
  return utf8_to_wide(decoded->c_str(), -1);  // a decoded %00 ends the value
}

std::optional<std::u16string> query_param_wide(const char16_t* key, const char16_t* query) {
  const auto value = find_param(key, query);
  if (!value) return std::nullopt;
  return std::u16string(query + value->first, static_cast<std::size_t>(value->second));
}

std::optional<std::string> percent_decode(const char* text, int count) {
  if (!text) return std::nullopt;
  if (count == 0) count = terminated_length(text);
  if (count <= 0) return std::nullopt;
  std::string out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b != '%') {
      out.push_back(static_cast<char>(b));
    } else if (i + 2 < count) {
      const int high = hex_digit_value(static_cast<unsigned char>(text[i + 1]));
      const int low = hex_digit_value(static_cast<unsigned char>(text[i + 2]));
      out.push_back(static_cast<char>(high << 4 | low));
      i += 2;
    } else {
      // Too few bytes left for an escape: keep the rest as it stands.
      out.push_back('%');
    }
  }
  return out;
}

std::string with_secrets_hidden(std::string_view text) {
  constexpr std::string_view SECRET = "password=";
  const auto same = [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; };
  const auto ends_value = [](char c) { return c == '&' || c == ' ' || c == '#' || c == '\r' || c == '\n'; };
  std::string shown;
  std::size_t copied = 0;
  for (auto at = std::search(text.begin(), text.end(), SECRET.begin(), SECRET.end(), same); at != text.end();
       at = std::search(at + 1, text.end(), SECRET.begin(), SECRET.end(), same)) {
    const std::size_t tail = static_cast<std::size_t>(at - text.begin());  // where "password=" begins
    if (tail < copied) continue;                                           // inside a value already hidden
    // Only a field of a query: its name begins after "?" or "&".
    const auto name_start = text.find_last_of("?&= \r\n", tail);
    if (name_start == std::string_view::npos || (text[name_start] != '?' && text[name_start] != '&')) continue;
    const std::size_t value = tail + SECRET.size();
    std::size_t end = value;
    while (end < text.size() && !ends_value(text[end])) ++end;
    if (end == value) continue;
    shown.append(text.substr(copied, value - copied)).append("***");
    copied = end;
  }
  if (copied == 0) return std::string(text);
  return shown.append(text.substr(copied));
}

}  // namespace zv
