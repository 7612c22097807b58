#include "platform/utf8.h"

namespace zv {

int utf8_decode(const unsigned char* text, std::size_t left, char32_t& value) {
  if (left == 0) return 0;
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    value = lead;
    return 1;
  }
  int need;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left <= static_cast<std::size_t>(need)) return 0;
  for (int i = 1; i <= need; ++i) {
    const unsigned char c = text[i];
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
    value = value << 6 | (c & 0x3F);
  }
  return need + 1;
}

int utf8_encode(char32_t value, unsigned char bytes[4]) {
  if (value < 0x80) {
    bytes[0] = static_cast<unsigned char>(value);
    return 1;
  }
  if (value < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | value >> 6);
    bytes[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 2;
  }
  if (value < 0x10000) {
    bytes[0] = static_cast<unsigned char>(0xE0 | value >> 12);
    bytes[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<unsigned char>(0xF0 | value >> 18);
  bytes[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
  bytes[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
  bytes[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
  return 4;
}

}  // namespace zv
