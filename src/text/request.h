#pragma once
// The request path and the query parameters, found by plain text search in
// the bytes a connection received.

#include <optional>
#include <string>
#include <string_view>

namespace zv {

// First match of `key` in `text` (ASCII case folded) from `start`, scanning
// `limit` characters (0: up to the terminator). A broken partial match is not
// rescanned, so "get /" is not found in "GGET /".
std::optional<int> find_no_case(const char* text, const char* key, int start, int limit);
std::optional<int> find_no_case_wide(const char16_t* text, const char16_t* key, int start, int limit);

std::optional<std::u16string> request_path(const char* bytes, int count);

struct QueryRange {
  int start = 0;  // 0: the request has no query
  int length = 0;
};
QueryRange query_range(const char* bytes, int count);
std::optional<std::string> query_text(const char* bytes, int count);

// Decoded value of `key` (percent-decoded, read as UTF-8); none when the key
// is absent or its value empty.
std::optional<std::u16string> query_param(const char* key, const char* query);
// Raw value of `key`; an empty value gives an empty text.
std::optional<std::u16string> query_param_wide(const char16_t* key, const char16_t* query);

// Decodes %XY escapes of `count` bytes (0: up to the terminator). The result
// may hold NUL bytes.
std::optional<std::string> percent_decode(const char* text, int count);

// The text as the console shows it: the value of every query field whose
// name ends in "password" (in any case), in the request line or a Referer,
// reads "***", so a secret never reaches a log.
std::string with_secrets_hidden(std::string_view text);

}  // namespace zv
