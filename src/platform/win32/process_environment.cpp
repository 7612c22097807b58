#include "platform/process_environment.h"

#include <windows.h>

#include <cstdlib>
#include <direct.h>

namespace zv {

std::optional<std::u16string> current_directory() {
  // With no buffer, _wgetcwd allocates one of the length the folder needs.
  wchar_t* folder = _wgetcwd(nullptr, 0);
  if (!folder) return std::nullopt;
  std::u16string text(reinterpret_cast<const char16_t*>(folder));
  std::free(folder);
  return text;
}

std::optional<std::u16string> environment_variable(const char16_t* name) {
  const wchar_t* value = _wgetenv(reinterpret_cast<const wchar_t*>(name));
  if (!value) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(value));
}

}  // namespace zv
