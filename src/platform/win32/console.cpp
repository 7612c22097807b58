#include "platform/console.h"

#include "platform/window_messages.h"

#include <windows.h>

#include <cstdio>

namespace zv {

void console_setup() {
  // Narration is UTF-8. Standard output is unbuffered: the C runtime has no
  // line buffering, and narration that goes to a pipe must not wait in a buffer.
  SetConsoleOutputCP(CP_UTF8);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void set_console_title(const char16_t* title) {
  SetConsoleTitleW(reinterpret_cast<const wchar_t*>(title));
  open_console_window(title);  // only where the console is no window
}

}  // namespace zv
