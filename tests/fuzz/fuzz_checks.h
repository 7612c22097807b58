#pragma once
// What every fuzz target asserts beyond "no crash": a broken property aborts,
// so libFuzzer keeps the input that showed it.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"

namespace zv::fuzz {

inline void check(bool holds, const char* property) {
  if (!holds) {
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
  }
}

// Well-formed UTF-8: shortest forms only, no encoded surrogates, nothing past U+10FFFF.
inline bool is_valid_utf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      c = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF))) return false;
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    i += extra + 1;
  }
  return true;
}

// Every lone surrogate of `text` carries a stray byte of a name (U+DC80..U+DCFF).
inline bool lone_surrogates_are_bytes(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF && !is_raw_byte(text.c_str(), i)) {
      return false;
    }
  }
  return true;
}

inline bool has_lone_surrogate(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

}  // namespace zv::fuzz
