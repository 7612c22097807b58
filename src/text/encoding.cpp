#include "text/encoding.h"

#include "platform/codepage.h"
#include "platform/path_style.h"

#include <cstring>

namespace zv {
namespace {

// Sizes, then converts; `count` goes to the platform unchanged. With -1 the
// platform converts the terminator too, which is then dropped.
std::optional<std::u16string> multi_byte_to_wide_text(CodePage page, const char* text, int count) {
  if (!text) return std::nullopt;
  const int size = multi_byte_to_wide(page, text, count, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  if (multi_byte_to_wide(page, text, count, out.data(), size) == 0) return std::nullopt;
  if (count == -1) out.pop_back();
  return out;
}

template <char16_t Separator>
std::optional<std::u16string> folder_path_form(const char16_t* path) {
  if (!path || path[0] == 0) return std::nullopt;
  std::u16string out;
  for (const char16_t* p = path; *p != 0; ++p) {
    const bool separator = *p == u'/' || *p == u'\\';
    if (!separator) {
      out.push_back(*p);
    } else if (out.empty() || out.back() != Separator) {
      out.push_back(Separator);  // a run of separators becomes one
    }
  }
  if (out.back() != Separator) out.push_back(Separator);
  return out;
}

bool unreserved(char16_t u) {
  return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' ||
         u == u'_' || u == u'.' || u == u'!' || u == u'~' || u == u'*' || u == u'\'' || u == u'(' || u == u')';
}

// "%00" to "%FF", each three characters, in order.
struct EscapeTable {
  char text[256][3];
  constexpr EscapeTable() : text{} {
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      text[i][0] = '%';
      text[i][1] = digits[i >> 4];
      text[i][2] = digits[i & 0xF];
    }
  }
};
constexpr EscapeTable ESCAPES;

void append_escape(std::string& out, unsigned byte) { out.append(ESCAPES.text[byte & 0xFF], 3); }

}  // namespace

std::optional<std::u16string> ansi_to_wide(const char* text, int count) {
  if (!text) return std::nullopt;
  if (count == -1) count = static_cast<int>(std::strlen(text));
  if (count <= 0) return std::nullopt;
  return multi_byte_to_wide_text(CodePage::ansi, text, count);
}

std::optional<std::u16string> utf8_to_wide(const char* text, int count) {
  return multi_byte_to_wide_text(CodePage::utf8, text, count);
}

std::optional<std::string> wide_to_utf8(const char16_t* text, int count) {
  if (!text) return std::nullopt;
  const int size = wide_to_multi_byte(CodePage::utf8, text, count, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (wide_to_multi_byte(CodePage::utf8, text, count, out.data(), size) == 0) return std::nullopt;
  if (count == -1) out.pop_back();
  return out;
}

std::optional<std::u16string> folder_path_backslash(const char16_t* path) { return folder_path_form<u'\\'>(path); }

std::optional<std::u16string> folder_path_slash(const char16_t* path) { return folder_path_form<u'/'>(path); }

std::optional<std::u16string> folder_path_native(const char16_t* path) {
  return folder_path_form<FOLDER_SEPARATOR>(path);
}

std::string form_encode(const char16_t* text, int count) {
  std::string out;
  if (!text) return out;
  if (count <= 0) {
    count = 0;
    while (text[count] != 0) ++count;
  }
  out.reserve(static_cast<std::size_t>(count) * 9);
  for (int i = 0; i < count; ++i) {
    const unsigned u = text[i];
    if (is_raw_byte(text, static_cast<std::size_t>(i))) {
      append_escape(out, u);  // a byte of a name that is not UTF-8 goes out as itself
    } else if (unreserved(static_cast<char16_t>(u))) {
      out.push_back(static_cast<char>(u));
    } else if (u == 32) {
      out.push_back('+');
    } else if (u <= 127) {
      append_escape(out, u);
    } else if (u <= 2047) {
      append_escape(out, 192 + u / 64);
      append_escape(out, 128 + u % 64);
    } else {
      append_escape(out, 224 + u / 4096);
      append_escape(out, 128 + (u / 64) % 64);
      append_escape(out, 128 + u % 64);
    }
  }
  return out;
}

std::optional<std::string> form_encode_utf8(const char* text, int count) {
  if (!text) return std::nullopt;
  if (count == 0) count = static_cast<int>(std::strlen(text));
  if (count <= 0) return std::nullopt;
  const auto wide = utf8_to_wide(text, count);
  if (!wide) return std::nullopt;
  return form_encode(wide->data(), static_cast<int>(wide->size()));
}

}  // namespace zv
