// The form-value encoders: only safe characters come out, and decoding gives
// back each unit's UTF-8 bytes.

#include "fuzz_checks.h"
#include "text/encoding.h"
#include "text/request.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool is_safe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("-_.!~*'()+%", c) != nullptr;
}

// Each unit by itself as one, two or three UTF-8-style bytes; a unit that
// carries a stray byte of a name as that byte.
std::string unit_bytes(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (zv::is_raw_byte(units.c_str(), i)) {
      out += static_cast<char>(u & 0xFF);
    } else if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  using fuzz::check;

  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  const int count = static_cast<int>(units.size());
  if (count > 0) {
    std::string encoded = form_encode(units.data(), count);
    check(encoded.size() <= units.size() * 9, "at most nine bytes a unit");
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      check(is_safe(encoded[i]), "only unreserved characters, + and escapes");
      if (encoded[i] == '%') {
        check(i + 2 < encoded.size(), "an escape has two digits");
        for (std::size_t k = 1; k <= 2; ++k) {
          const char d = encoded[i + k];
          check((d >= '0' && d <= '9') || (d >= 'A' && d <= 'F'), "escapes use upper-case hexadecimal");
        }
      }
    }
    for (char& c : encoded) {
      if (c == '+') c = ' ';
    }
    const auto decoded = percent_decode(encoded.c_str(), static_cast<int>(encoded.size()));
    check(decoded.has_value() && *decoded == unit_bytes(units), "decoding gives back each unit's bytes");
  }

  if (size > 0) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto encoded = form_encode_utf8(text.data(), static_cast<int>(size));
    check(encoded.has_value(), "non-empty UTF-8 always encodes");
    for (char c : *encoded) check(is_safe(c), "only unreserved characters, + and escapes");
  }
  return 0;
}
