#include "text/text_buffer.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace zv {
namespace {

// Decimal digits of a signed 32-bit value into a small local array.
template <typename Char>
std::uint32_t format_decimal(std::int32_t value, Char (&out)[16]) {
  char digits[12];
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint32_t length = 0;
  if (value < 0) out[length++] = '-';
  while (n > 0) out[length++] = static_cast<Char>(digits[--n]);
  out[length] = 0;
  return length;
}

}  // namespace

template <typename Char>
BasicTextBuffer<Char>::BasicTextBuffer(std::uint32_t initial) {
  reserve(initial);
}

template <typename Char>
BasicTextBuffer<Char>::~BasicTextBuffer() {
  std::free(data_);
  data_ = nullptr;
}

template <typename Char>
int BasicTextBuffer<Char>::reserve(std::uint32_t count) {
  if (!grow(count)) return 0;
  data_[length_] = 0;
  return 1;
}

template <typename Char>
int BasicTextBuffer<Char>::grow(std::uint32_t required) {
  const std::uint32_t n = required > 0 ? required : capacity_;
  std::uint32_t target = n * static_cast<std::uint32_t>(growth_factor_) / 10;
  if (target < capacity_) return 1;
  if (target < MIN_TEXT_CAPACITY) target = MIN_TEXT_CAPACITY;
  auto* block = static_cast<Char*>(std::malloc(static_cast<std::size_t>(target) * sizeof(Char)));
  if (!block) return 0;
  if (data_) {
    std::memcpy(block, data_, static_cast<std::size_t>(capacity_) * sizeof(Char));
    std::free(data_);
  } else {
    block[0] = 0;  // a new block starts as an empty terminated text
  }
  data_ = block;
  capacity_ = target;
  return 1;
}

template <typename Char>
int BasicTextBuffer<Char>::append(const Char* text, std::uint32_t count) {
  if (!text) return 0;
  if (count == 0) {
    count = static_cast<std::uint32_t>(std::char_traits<Char>::length(text));
    if (count == 0) return 0;
  }
  if (count >= capacity_ - length_) {
    if (!grow(length_ + count + 2)) return 0;
  }
  if (!data_ || count >= capacity_ - length_) return 0;
  std::memcpy(data_ + length_, text, static_cast<std::size_t>(count) * sizeof(Char));
  length_ += count;
  data_[length_] = 0;
  return 1;
}

template <typename Char>
int BasicTextBuffer<Char>::append_char(Char c) {
  const Char text[2] = {c, 0};
  return append(text, 1);
}

template <typename Char>
int BasicTextBuffer<Char>::append_int(std::int32_t value) {
  Char text[16];
  format_decimal(value, text);
  return append(text, 0);
}

template <typename Char>
int BasicTextBuffer<Char>::append_long(std::int32_t value) {
  return append_int(value);
}

template <typename Char>
int BasicTextBuffer<Char>::append_hex_byte(int value) {
  static constexpr char digits[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned>(value) & 0xFFu;
  const Char text[3] = {static_cast<Char>(digits[byte >> 4]), static_cast<Char>(digits[byte & 0xF]), 0};
  return append(text, 0);
}

template <typename Char>
void BasicTextBuffer<Char>::truncate(std::uint32_t new_length) {
  if (new_length < length_) {
    length_ = new_length;
    data_[length_] = 0;
  }
}

template class BasicTextBuffer<char>;
template class BasicTextBuffer<char16_t>;

int grow_block(char*& block, int size, int factor) {
  int target = size > 0 ? static_cast<int>(static_cast<long long>(size) * factor / 10) : size;
  if (target < size) target = size;
  if (target < static_cast<int>(MIN_TEXT_CAPACITY)) target = static_cast<int>(MIN_TEXT_CAPACITY);
  block = static_cast<char*>(std::malloc(static_cast<std::size_t>(target)));
  return target;
}

}  // namespace zv
