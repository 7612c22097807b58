#pragma once
// Growable, counted, always terminated text in two widths. The FormBody that a
// ".php" request hands to the interpreter is a TextBuffer; the CGI environment
// block and file-system paths are WideTextBuffers.

#include <cstdint>

namespace zv {

template <typename Char>
class BasicTextBuffer {
 public:
  explicit BasicTextBuffer(std::uint32_t initial = 0);
  ~BasicTextBuffer();
  BasicTextBuffer(const BasicTextBuffer&) = delete;
  BasicTextBuffer& operator=(const BasicTextBuffer&) = delete;

  // All return 1 on success, 0 on failure (the content stays as it was).
  int reserve(std::uint32_t count);
  int grow(std::uint32_t required);
  int append(const Char* text, std::uint32_t count = 0);  // 0: up to the terminator
  int append_char(Char c);
  int append_int(std::int32_t value);
  int append_long(std::int32_t value);
  int append_hex_byte(int value);  // two lower-case hex digits

  const Char* data() const { return data_; }
  std::uint32_t length() const { return length_; }
  std::uint32_t capacity() const { return capacity_; }
  Char last_char() const { return length_ ? data_[length_ - 1] : Char{0}; }
  void truncate(std::uint32_t new_length);

 private:
  Char* data_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t length_ = 0;
  std::int32_t growth_factor_ = 15;  // tenths
};

extern template class BasicTextBuffer<char>;
extern template class BasicTextBuffer<char16_t>;

using TextBuffer = BasicTextBuffer<char>;
using WideTextBuffer = BasicTextBuffer<char16_t>;
using FormBody = TextBuffer;

inline constexpr std::uint32_t MIN_TEXT_CAPACITY = 520;

// Allocates (std::malloc) a scratch block of at least `size` bytes grown by
// `factor` tenths, never under 520; stores it in `block`, returns its size.
int grow_block(char*& block, int size, int factor);

}  // namespace zv
