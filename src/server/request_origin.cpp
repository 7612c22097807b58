#include "server/request_origin.h"

#include <string_view>

namespace zv {
namespace {

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool is_one_of(std::string_view value, std::initializer_list<std::string_view> allowed) {
  for (const std::string_view a : allowed)
    if (same_text(value, a)) return true;
  return false;
}

// The scheme, host and port of a URL: everything before the path.
std::string_view origin_of(std::string_view url) {
  const auto authority = url.find("//");
  if (authority == std::string_view::npos) return url;
  const auto path = url.find_first_of("/?#", authority + 2);
  return path == std::string_view::npos ? url : url.substr(0, path);
}

bool is_own_origin(std::string_view origin) { return is_one_of(origin, {"http://127.0.0.1:8080", "http://localhost:8080"}); }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The reason when this one header line shows another site behind the request.
const char* line_reason(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return nullptr;
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = trimmed(line.substr(colon + 1));
  if (same_text(name, "Host") && !is_one_of(value, {"127.0.0.1", "127.0.0.1:8080", "localhost", "localhost:8080"}))
    return "the Host line names another server";
  if (same_text(name, "Sec-Fetch-Site") && !is_one_of(value, {"same-origin", "none"}))
    return "the browser says another site sent it";
  if (same_text(name, "Origin") && !is_own_origin(value)) return "the Origin line names another site";
  if (same_text(name, "Referer") && !is_own_origin(origin_of(value))) return "the Referer line names another site";
  return nullptr;
}

}  // namespace

const char* foreign_request_reason(const char* request, int length) {
  if (!request || length <= 0) return nullptr;
  std::string_view rest(request, static_cast<std::size_t>(length));
  bool first = true;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (!first && trimmed(line).empty()) break;  // the end of the header lines
    first = false;
    if (const char* reason = line_reason(line)) return reason;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return nullptr;
}

}  // namespace zv
