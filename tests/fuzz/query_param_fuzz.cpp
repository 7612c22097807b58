// Parameter lookup in hostile query texts, narrow (decoded) and wide (raw).

#include "fuzz_checks.h"
#include "text/encoding.h"
#include "text/request.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  if (size < 1) return 0;
  // First byte: length of the key; then the key; the rest is the query.
  const std::size_t key_length = data[0] % 12;
  if (1 + key_length > size) return 0;
  const std::string key(reinterpret_cast<const char*>(data) + 1, key_length);
  const std::string query(reinterpret_cast<const char*>(data) + 1 + key_length, size - 1 - key_length);
  if (key.find('\0') != std::string::npos || query.find('\0') != std::string::npos) return 0;

  const auto value = query_param(key.c_str(), query.c_str());
  if (value) {
    fuzz::check(NAMES_ARE_BYTES ? fuzz::lone_surrogates_are_bytes(*value) : !fuzz::has_lone_surrogate(*value),
                "decoded values are well-formed UTF-16 or carried bytes");
    fuzz::check(value->size() <= query.size(), "a value is never longer than the query");
  }
  const auto wide_key = ansi_to_wide(key.c_str(), -1);
  const auto wide_query = ansi_to_wide(query.c_str(), -1);
  if (wide_key && wide_query) {
    const auto raw = query_param_wide(wide_key->c_str(), wide_query->c_str());
    if (raw) {
      fuzz::check(raw->find(u'&') == std::u16string::npos, "a raw value ends at &");
      fuzz::check(raw->size() < wide_query->size(), "a raw value lies inside the query");
    }
  }
  return 0;
}
