#pragma once
// UTF-16 text to and from the UTF-8 the POSIX calls take, for the POSIX side
// of the seam.

#include "platform/codepage.h"

#include <string>

namespace zv {

// Empty for null text and for text that does not convert.
inline std::string utf8_from_wide(const char16_t* text) {
  if (!text) return {};
  const int size = wide_to_multi_byte(CodePage::utf8, text, -1, nullptr, 0);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  wide_to_multi_byte(CodePage::utf8, text, -1, out.data(), size);
  out.resize(static_cast<std::size_t>(size) - 1);  // the terminator
  return out;
}

inline std::u16string wide_from_utf8(const char* text) {
  if (!text) return {};
  const int size = multi_byte_to_wide(CodePage::utf8, text, -1, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  multi_byte_to_wide(CodePage::utf8, text, -1, out.data(), size);
  out.resize(static_cast<std::size_t>(size) - 1);
  return out;
}

}  // namespace zv
