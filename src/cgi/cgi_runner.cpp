#include "cgi/cgi_runner.h"

#include "cgi/cgi_process.h"
#include "platform/console.h"
#include "platform/path_style.h"
#include "platform/time_limits.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace zv {
namespace {

// "..\php\php-cgi.exe" in this platform's folder form, next to the server's
// working directory.
std::u16string interpreter_path() {
  std::u16string path = u"..";
  path += FOLDER_SEPARATOR;
  path += u"php";
  path += FOLDER_SEPARATOR;
  path += u"php-cgi.exe";
  return path;
}

Deadline after(Deadline start, std::uint32_t milliseconds) {
  return start + time_limit(std::chrono::milliseconds(milliseconds));
}

}  // namespace

int run_cgi(CgiJob& job) {
  if (!job.process) return 0;
  CgiProcess& cgi = *job.process;
  std::uint32_t remaining = 0;
  if (job.body) remaining = job.body_length > 0 ? static_cast<std::uint32_t>(job.body_length)
                                                : static_cast<std::uint32_t>(std::strlen(job.body));

  if (!create_pipe(cgi.stdin_read, cgi.stdin_write)) return 0;
  if (!create_process(interpreter_path().c_str(), job.environment, cgi.stdin_read, job.client, cgi.child)) {
    narrate("Error CreateProcess\n");
    return 0;
  }
  cgi.started = std::chrono::steady_clock::now();
  // The child has its own copy of the read end. Without the server's, a child
  // that ends before taking its whole body breaks the pipe, and the write
  // stops at once instead of at the deadline.
  close_handle(cgi.stdin_read);

  // The child never sees the end of its input: the write end stays open until
  // it has ended, and CONTENT_LENGTH tells it how much to read.
  const Deadline deadline = after(cgi.started, CGI_WAIT_MILLISECONDS);
  const char* next = job.body;
  while (remaining > 0) {
    const int written = write_pipe(cgi.stdin_write, next, remaining, deadline);
    if (written <= 0) break;
    next += written;
    remaining -= static_cast<std::uint32_t>(written);
  }
  return 1;
}

void wait_for_cgi(CgiProcess& cgi, std::uint32_t milliseconds) {
  if (cgi.child.process != NO_OS_HANDLE) {
    wait_process(cgi.child, after(cgi.started, milliseconds));
    // What the script started in the background would otherwise live on,
    // writing to the client's connection.
    end_process_tree(cgi.child);
  }
  close_handle(cgi.child.process);
  close_handle(cgi.child.thread);
  close_handle(cgi.child.job);
  close_handle(cgi.stdin_read);
  close_handle(cgi.stdin_write);
}

CgiProcess::~CgiProcess() { wait_for_cgi(*this, 0); }

}  // namespace zv
