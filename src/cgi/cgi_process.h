#pragma once
#include "cgi/cgi_runner.h"
#include "platform/child_process.h"

namespace zv {

// Everything run_cgi creates for one request; all empty until then. Whatever
// is still open when it goes is ended and closed as wait_for_cgi does.
struct CgiProcess {
  ChildProcess child;
  OsHandle stdin_read = NO_OS_HANDLE;
  OsHandle stdin_write = NO_OS_HANDLE;
  Deadline started{};

  CgiProcess() = default;
  ~CgiProcess();
  CgiProcess(const CgiProcess&) = delete;
  CgiProcess& operator=(const CgiProcess&) = delete;
};

}  // namespace zv
