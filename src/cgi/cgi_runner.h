#pragma once
// The PHP interpreter as a CGI child: its environment block and its start,
// with the client socket as its standard output and standard error.

#include "platform/socket.h"
#include "text/text_buffer.h"

#include <cstdint>

namespace zv {

// How long a child may run, counted from its start; writing its body and
// waiting for it both end there.
inline constexpr std::uint32_t CGI_WAIT_MILLISECONDS = 30000;

// Builds the interpreter's whole environment into `environment`: NAME=value
// entries, each followed by a NUL, then one more NUL. 1 when every piece fit.
int build_cgi_environment(WideTextBuffer& environment, const char16_t* script_path, const char16_t* query,
                          bool has_body, std::int32_t content_length, const char16_t* content_type);

// The child and the handles the runner made for it; owned by the connection
// handler, which waits for the child and closes everything (wait_for_cgi).
struct CgiProcess;

struct CgiJob {
  CgiProcess* process = nullptr;
  const char16_t* environment = nullptr;
  SocketHandle client = 0;
  const char* body = nullptr;
  int body_length = 0;  // 0: strlen(body)
};

// Starts the interpreter and writes the body to its standard input; returns
// once the body is written, the child has stopped taking it, or its time is
// up. Prints "Error CreateProcess" when the interpreter cannot be started.
// 1 when the child runs.
int run_cgi(CgiJob& job);
// Waits until `milliseconds` after the child's start, ends it if it still
// runs and, in any case, every process it started; reaps it and closes every
// handle of the job.
void wait_for_cgi(CgiProcess& process, std::uint32_t milliseconds);

}  // namespace zv
