#include "platform/codepage.h"

#include <windows.h>

namespace zv {
namespace {
UINT native(CodePage page) { return page == CodePage::ansi ? CP_ACP : CP_UTF8; }
}  // namespace

int multi_byte_to_wide(CodePage page, const char* input, int count, char16_t* output, int output_size) {
  return MultiByteToWideChar(native(page), 0, input, count, reinterpret_cast<wchar_t*>(output), output_size);
}

int wide_to_multi_byte(CodePage page, const char16_t* input, int count, char* output, int output_size) {
  return WideCharToMultiByte(native(page), 0, reinterpret_cast<const wchar_t*>(input), count, output, output_size,
                             nullptr, nullptr);
}

}  // namespace zv
