// The request path and the query, taken from whatever bytes a client sends.

#include "fuzz_checks.h"
#include "text/encoding.h"
#include "text/request.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  if (size > 131072) return 0;  // a receive never gives more
  if (size == 0) return 0;
  // Exactly the received bytes, unterminated, so a read past them is caught.
  // An odd first byte puts a request line in front, so most inputs reach the
  // path and query scans instead of stopping at the search for "get /".
  std::vector<char> bytes;
  if (data[0] & 1) bytes = {'G', 'E', 'T', ' ', '/'};
  bytes.insert(bytes.end(), data + 1, data + size);
  const int count = static_cast<int>(bytes.size());

  const auto path = request_path(bytes.data(), count);
  if (path) {
    fuzz::check(!path->empty(), "a path is never empty");
    for (char16_t c : *path) fuzz::check(c != u'?' && c != u' ' && c != u'\r' && c != u'\n', "path stops at ? space CR LF");
  }

  const QueryRange range = query_range(bytes.data(), count);
  fuzz::check(range.start >= 0 && range.length >= 0, "query range is not negative");
  fuzz::check(range.start + range.length <= count, "query lies inside the bytes");
  const auto query = query_text(bytes.data(), count);
  if (query) {
    fuzz::check(range.start > 0 && range.length > 0, "query text only for a non-empty range");
    fuzz::check(*query == std::string(bytes.data() + range.start, static_cast<std::size_t>(range.length)),
                "query text is the bytes of its range");
  } else {
    fuzz::check(range.start == 0 || range.length == 0, "a non-empty range gives a query text");
  }
  if (range.start > 0) fuzz::check(bytes[static_cast<std::size_t>(range.start) - 1] == '?', "a query follows ?");

  // The case-insensitive scan that both rest on, with a key from the bytes.
  if (size > 1) {
    const std::size_t key_length = 1 + data[0] / 2 % 8;
    if (key_length < bytes.size()) {
      std::string key(bytes.data() + 1, key_length);
      if (key.find('\0') == std::string::npos) {
        const auto at = find_no_case(bytes.data(), key.c_str(), 0, count);
        if (at) fuzz::check(*at >= 0 && *at + static_cast<int>(key_length) <= count, "match lies inside the bytes");
      }
    }
  }
  return 0;
}
