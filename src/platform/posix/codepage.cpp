#include "platform/codepage.h"

#include "platform/utf8.h"

#include <cstdint>
#include <cstring>

// The ANSI code page of a POSIX system is UTF-8, so both code pages take the
// same road. A byte that is not part of valid UTF-8 is carried as U+DC00 +
// byte and written back as that byte; any other unpaired surrogate becomes
// U+FFFD, as the Windows conversions do.

namespace zv {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// The scalar value of the UTF-8 sequence at `in` (at most `left` bytes) and
// its length. A byte that does not start a well-formed sequence is one unit of
// its own, the surrogate that carries it; the bytes after it are then taken
// one by one, and each of them is a carried byte too or starts a sequence.
int decode_one(const unsigned char* in, int left, char32_t& out) {
  const int used = utf8_decode(in, static_cast<std::size_t>(left), out);
  if (used > 0) return used;
  out = RAW_BYTE_BASE + in[0];
  return 1;
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
    const int n = utf8_encode(c, bytes);
    if (output) {
      if (written + n > output_size) return 0;
      std::memcpy(output + written, bytes, static_cast<std::size_t>(n));
    }
    written += n;
  }
  return written;
}

}  // namespace zv
