#pragma once
// The console the server narrates on. Narration is printf of UTF-8 text.

namespace zv {

// Makes the console fit for narration before anything is printed: closed
// standard descriptors opened on /dev/null, line-buffered standard output, no
// death by SIGPIPE, children reaped (POSIX); UTF-8 output (Windows).
void console_setup();
void set_console_title(const char16_t* title);  // SetConsoleTitleW

}  // namespace zv
