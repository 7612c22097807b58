#pragma once
// Whether a request comes from the station's own pages or a local program,
// told by its Host, Sec-Fetch-Site, Origin and Referer lines. Another web page
// open in the operator's browser, or one that rebinds its own name to this
// address, must not drive the server.

#include <string>

namespace zv {

// Why the request must be refused, as the console says it; null when it may
// be served. Header names are matched without regard to case; a request
// without any of the four lines (a script, a player program) is served.
const char* foreign_request_reason(const char* request, int length);

// Watches every read of one connection, not only the last (which counts as
// the request): a refused header line in an earlier read, or a start other
// than "get /", refuses the whole connection.
class RequestGuard {
 public:
  void read(const char* data, int length);
  // Why the connection must be refused, as the console says it; null when
  // it may be served. `query` is the request's query, or null.
  const char* reason(const char* query) const;

 private:
  std::string head_;  // the connection's first bytes, up to the end of their header lines
  bool head_complete_ = false;
  const char* refused_ = nullptr;
  bool from_outside_a_page_ = false;  // Sec-Fetch-Site: none
};

}  // namespace zv
