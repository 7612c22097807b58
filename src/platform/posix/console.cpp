#include "platform/console.h"

#include "platform/window_messages.h"
#include "text/encoding.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace zv {

void console_setup() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // narration reaches a file or pipe line by line
  std::signal(SIGPIPE, SIG_IGN);             // a client that goes away never stops the server
}

void set_console_title(const char16_t* title) {
  open_console_window(title);
  const auto text = wide_to_utf8(title, -1);
  if (!text) return;
  if (::isatty(STDOUT_FILENO)) std::printf("\033]0;%s\007", text->c_str());
}

}  // namespace zv
