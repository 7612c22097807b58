// Percent-decoding of values, escapes cut short at the end included.

#include "fuzz_checks.h"
#include "text/request.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  if (size == 0 || size > 131072) return 0;
  const std::vector<char> bytes(data, data + size);  // unterminated
  const auto decoded = percent_decode(bytes.data(), static_cast<int>(size));
  fuzz::check(decoded.has_value(), "non-empty input always decodes");
  fuzz::check(decoded->size() <= size, "output never longer than input");
  const std::string input(bytes.begin(), bytes.end());
  if (input.find('%') == std::string::npos) fuzz::check(*decoded == input, "bytes without % are copied unchanged");
  return 0;
}
