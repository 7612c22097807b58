#pragma once
// The console the server narrates on. Narration is printf of UTF-8 text.

namespace zv {

// Makes the console fit for narration before anything is printed: closed
// standard descriptors opened on /dev/null, line-buffered standard output, no
// death by SIGPIPE, children reaped (POSIX); UTF-8 output (Windows).
void console_setup();
void set_console_title(const char16_t* title);  // SetConsoleTitleW

// printf of one message, written to the console in one piece and flushed at
// once (or with its thread's batch, platform/narration_batch.h), so that
// nothing is lost or late on a terminal and a message that begins with "\n"
// is not split in two writes.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void narrate(const char* format, ...);

}  // namespace zv
