#pragma once
// Conversions between the ANSI code page, UTF-8 and UTF-16, the canonical
// folder-path forms, and the percent-encoding of form values.

#include <optional>
#include <string>

namespace zv {

// count -1: the whole terminated text. Results never include the terminator.
std::optional<std::u16string> ansi_to_wide(const char* text, int count);
std::optional<std::u16string> utf8_to_wide(const char* text, int count);
std::optional<std::string> wide_to_utf8(const char16_t* text, int count);

// Every run of "/" or "\" becomes one separator, and the result ends in one.
std::optional<std::u16string> folder_path_backslash(const char16_t* path);
std::optional<std::u16string> folder_path_slash(const char16_t* path);
// The form this platform stores and hands to the operating system
// (backslashes on Windows, slashes elsewhere).
std::optional<std::u16string> folder_path_native(const char16_t* path);

// Percent-encodes each UTF-16 unit (space as "+"), a unit that carries a raw
// byte of a name as that byte; count <= 0: up to the terminator.
std::string form_encode(const char16_t* text, int count);
// The same for UTF-8 text; none for an empty text or a failed conversion.
std::optional<std::string> form_encode_utf8(const char* text, int count);

}  // namespace zv
