#pragma once
#include "cgi/cgi_runner.h"

namespace zv {

// Everything run_cgi creates for one request; all empty until then.
struct CgiProcess {
  // filled in by the CGI runner
};

}  // namespace zv
