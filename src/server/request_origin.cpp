#include "server/request_origin.h"

#include "playlist/player_handoff.h"
#include "text/request.h"

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

// Calls `visit` with each header line of the text (the first line counts as
// one) until it returns true or the header lines end; true when it did.
template <typename Visit>
bool any_header_line(std::string_view rest, Visit visit) {
  bool first = true;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (!first && trimmed(line).empty()) break;  // the end of the header lines
    first = false;
    if (visit(line)) return true;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

bool says_outside_a_page(std::string_view text) {
  return any_header_line(text, [](std::string_view line) {
    const auto colon = line.find(':');
    return colon != std::string_view::npos && same_text(line.substr(0, colon), "Sec-Fetch-Site") &&
           same_text(trimmed(line.substr(colon + 1)), "none");
  });
}

// Whether the text, after any blank lines, begins with "get /" in any case.
bool begins_with_get(std::string_view text) {
  while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
  return text.size() >= 5 && same_text(text.substr(0, 5), "get /");
}

// A query that would import a folder or hand songs to the player.
bool asks_for_a_change(const char* query) {
  if (!query) return false;
  if (query_param("add_dir", query)) return true;
  for (int i = 0; i < MAX_HANDOFF_ITEMS; ++i) {
    if (query_param(("item" + std::to_string(i)).c_str(), query)) return true;
  }
  return false;
}

// Header lines end at the first empty line; the head is kept no longer.
constexpr std::size_t HEAD_LIMIT = 131072;

}  // namespace

const char* foreign_request_reason(const char* request, int length) {
  if (!request || length <= 0) return nullptr;
  const char* reason = nullptr;
  any_header_line(std::string_view(request, static_cast<std::size_t>(length)),
                  [&](std::string_view line) { return (reason = line_reason(line)) != nullptr; });
  return reason;
}

void RequestGuard::read(const char* data, int length) {
  if (!data || length <= 0) return;
  const std::string_view text(data, static_cast<std::size_t>(length));
  if (!refused_) refused_ = foreign_request_reason(data, length);
  if (says_outside_a_page(text)) from_outside_a_page_ = true;
  if (head_complete_) return;
  // A header line split between two reads is seen whole in the head.
  head_.append(text.substr(0, std::min(text.size(), HEAD_LIMIT - head_.size())));
  const auto body = head_.find("\n\r\n") != std::string::npos ? head_.find("\n\r\n") : head_.find("\n\n");
  head_complete_ = body != std::string::npos || head_.size() >= HEAD_LIMIT;
}

const char* RequestGuard::reason(const char* query) const {
  if (refused_) return refused_;
  if (const char* reason = foreign_request_reason(head_.data(), static_cast<int>(head_.size()))) return reason;
  if (!head_.empty() && !begins_with_get(head_)) return "the request does not begin with GET /";
  if ((from_outside_a_page_ || says_outside_a_page(head_)) && asks_for_a_change(query))
    return "a request from outside the station's pages may not change anything";
  return nullptr;
}

}  // namespace zv
