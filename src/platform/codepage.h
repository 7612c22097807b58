#pragma once
// MultiByteToWideChar / WideCharToMultiByte with flags 0. A count of -1 means
// "up to and including the terminator"; a null output asks for the size.
// Malformed input never fails. On Windows it becomes U+FFFD (or its UTF-8
// form). On POSIX the ANSI code page is UTF-8 and file names are bytes: each
// byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 +
// byte (U+DC80..U+DCFF), which turns back into that byte on the way out, so
// every name survives the trip through UTF-16 whole. Other unpaired
// surrogates still become U+FFFD.

#include <cstddef>

namespace zv {

enum class CodePage { ansi, utf8 };

int multi_byte_to_wide(CodePage page, const char* input, int count, char16_t* output, int output_size);
int wide_to_multi_byte(CodePage page, const char16_t* input, int count, char* output, int output_size);

#ifdef _WIN32
inline constexpr bool NAMES_ARE_BYTES = false;
#else
inline constexpr bool NAMES_ARE_BYTES = true;
#endif
inline constexpr char16_t RAW_BYTE_BASE = 0xDC00;

// Whether unit `at` of `text` carries a raw byte: a U+DC80..U+DCFF that does
// not close a surrogate pair (the byte is the unit's low 8 bits).
inline bool is_raw_byte(const char16_t* text, std::size_t at) {
  const char16_t unit = text[at];
  if (!NAMES_ARE_BYTES || unit < RAW_BYTE_BASE + 0x80 || unit > RAW_BYTE_BASE + 0xFF) return false;
  return at == 0 || text[at - 1] < 0xD800 || text[at - 1] > 0xDBFF;
}

}  // namespace zv
