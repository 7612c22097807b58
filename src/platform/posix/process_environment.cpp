#include "platform/process_environment.h"

#include "platform/posix/utf8_text.h"

#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace zv {

std::optional<std::u16string> current_directory() {
  const std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
  if (!folder) return std::nullopt;
  return wide_from_utf8(folder.get());
}

std::optional<std::u16string> environment_variable(const char16_t* name) {
  const char* value = std::getenv(utf8_from_wide(name).c_str());
  if (!value) return std::nullopt;
  return wide_from_utf8(value);
}

}  // namespace zv
