#pragma once
// The one UTF-8 decoder and encoder, for both sides of the seam and the
// modules above it.

#include <cstddef>

namespace zv {

// Length of the well-formed UTF-8 sequence that starts `text` (at most `left`
// bytes), with its scalar value in `value`; 0 when none starts there
// (overlong forms, surrogates and values past U+10FFFF are not well-formed).
int utf8_decode(const unsigned char* text, std::size_t left, char32_t& value);

// Writes the UTF-8 form of the scalar value `value` (below U+110000) to
// `bytes` and returns its length, 1 to 4.
int utf8_encode(char32_t value, unsigned char bytes[4]);

}  // namespace zv
