#include "platform/codepage.h"

#include <cstdint>
#include <cstring>

// The ANSI code page of a POSIX system is UTF-8, so both code pages take the
// same road. A byte that is not part of valid UTF-8 is carried as U+DC00 +
// byte and written back as that byte; any other unpaired surrogate becomes
// U+FFFD, as the Windows conversions do.

namespace zv {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// Length of the UTF-8 sequence at `in` (at most `left` bytes) and its scalar
// value. A byte that does not start a well-formed sequence is one unit of its
// own, the surrogate that carries it; the bytes after it are then taken one
// by one, and each of them is a carried byte too or starts a sequence.
int decode_one(const unsigned char* in, int left, char32_t& out) {
  const unsigned char b = in[0];
  if (b < 0x80) {
    out = b;
    return 1;
  }
  int need;
  char32_t value;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    value = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    value = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    value = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    out = RAW_BYTE_BASE + b;
    return 1;
  }
  int used = 1;
  for (int i = 0; i < need; ++i) {
    const unsigned char c = used < left ? in[used] : 0;
    const unsigned char lo = i == 0 ? low : 0x80;
    const unsigned char hi = i == 0 ? high : 0xBF;
    if (used >= left || c < lo || c > hi) {
      out = RAW_BYTE_BASE + b;
      return 1;
    }
    value = value << 6 | (c & 0x3F);
    ++used;
  }
  out = value;
  return used;
}

int input_length(const char* input, int count) {
  return count == -1 ? static_cast<int>(std::strlen(input)) + 1 : count;
}

int wide_length(const char16_t* input, int count) {
  if (count != -1) return count;
  int n = 0;
  while (input[n] != 0) ++n;
  return n + 1;
}

}  // namespace

int multi_byte_to_wide(CodePage, const char* input, int count, char16_t* output, int output_size) {
  if (!input || count == 0 || count < -1 || output_size < 0) return 0;
  const int length = input_length(input, count);
  const auto* in = reinterpret_cast<const unsigned char*>(input);
  int written = 0;
  for (int at = 0; at < length;) {
    char32_t c;
    at += decode_one(in + at, length - at, c);
    const int units = c >= 0x10000 ? 2 : 1;
    if (output) {
      if (written + units > output_size) return 0;
      if (units == 2) {
        output[written] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        output[written + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        output[written] = static_cast<char16_t>(c);
      }
    }
    written += units;
  }
  return written;
}

int wide_to_multi_byte(CodePage, const char16_t* input, int count, char* output, int output_size) {
  if (!input || count == 0 || count < -1 || output_size < 0) return 0;
  const int length = wide_length(input, count);
  int written = 0;
  for (int at = 0; at < length; ++at) {
    char32_t c = input[at];
    if (c >= 0xD800 && c <= 0xDBFF && at + 1 < length && input[at + 1] >= 0xDC00 && input[at + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (input[at + 1] - 0xDC00);
      ++at;
    } else if (is_raw_byte(input, static_cast<std::size_t>(at))) {
      if (output) {
        if (written + 1 > output_size) return 0;
        output[written] = static_cast<char>(c & 0xFF);
      }
      ++written;
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = REPLACEMENT;
    }
    unsigned char bytes[4];
    int n;
    if (c < 0x80) {
      bytes[0] = static_cast<unsigned char>(c);
      n = 1;
    } else if (c < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | c >> 6);
      bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      bytes[0] = static_cast<unsigned char>(0xE0 | c >> 12);
      bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      n = 3;
    } else {
      bytes[0] = static_cast<unsigned char>(0xF0 | c >> 18);
      bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      n = 4;
    }
    if (output) {
      if (written + n > output_size) return 0;
      std::memcpy(output + written, bytes, static_cast<std::size_t>(n));
    }
    written += n;
  }
  return written;
}

}  // namespace zv
