#include "platform/console.h"
#include "platform/block_narration.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zv {

void narrate(const char* format, ...) {
  thread_local std::string message;
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  if (message.size() < 256) message.resize(256);
  const int length = std::vsnprintf(message.data(), message.size(), format, arguments);
  va_end(arguments);
  if (length >= 0 && static_cast<std::size_t>(length) >= message.size()) {
    message.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(message.data(), message.size(), format, again);
  }
  va_end(again);
  if (length <= 0) return;
  std::fwrite(message.data(), 1, static_cast<std::size_t>(length), stdout);
  if (!narration_is_blocked()) std::fflush(stdout);  // an import's lines go out in blocks
}

}  // namespace zv
