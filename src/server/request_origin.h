#pragma once
// Whether a request comes from the station's own pages or a local program,
// told by its Host, Sec-Fetch-Site, Origin and Referer lines. Another web page
// open in the operator's browser, or one that rebinds its own name to this
// address, must not drive the server.

namespace zv {

// Why the request must be refused, as the console says it; null when it may
// be served. Header names are matched without regard to case; a request
// without any of the four lines (a script, a player program) is served.
const char* foreign_request_reason(const char* request, int length);

}  // namespace zv
