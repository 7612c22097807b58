#pragma once
// How this platform writes folder paths that go to the operating system or
// are stored: backslashes on Windows, slashes elsewhere.

namespace zv {

#ifdef _WIN32
inline constexpr char16_t FOLDER_SEPARATOR = u'\\';
inline constexpr char FOLDER_SEPARATOR_NARROW = '\\';
#else
inline constexpr char16_t FOLDER_SEPARATOR = u'/';
inline constexpr char FOLDER_SEPARATOR_NARROW = '/';
#endif

}  // namespace zv
