#pragma once
// MultiByteToWideChar / WideCharToMultiByte with flags 0. A count of -1 means
// "up to and including the terminator"; a null output asks for the size.
// Malformed input never fails: it becomes U+FFFD (or its UTF-8 form).
// On POSIX the ANSI code page is UTF-8.

namespace zv {

enum class CodePage { ansi, utf8 };

int multi_byte_to_wide(CodePage page, const char* input, int count, char16_t* output, int output_size);
int wide_to_multi_byte(CodePage page, const char16_t* input, int count, char* output, int output_size);

}  // namespace zv
