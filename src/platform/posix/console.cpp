#include "platform/console.h"

#include "platform/window_messages.h"
#include "platform/posix/utf8_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zv {

void console_setup() {
  // A closed standard descriptor would be the next one handed out, and the
  // listening socket or a child's pipe would then stand in for it.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // narration reaches a file or pipe line by line
  std::signal(SIGPIPE, SIG_IGN);             // a client that goes away never stops the server
}

void set_console_title(const char16_t* title) {
  open_console_window(title);
  if (title && ::isatty(STDOUT_FILENO)) std::printf("\033]0;%s\007", utf8_from_wide(title).c_str());
}

}  // namespace zv
