#pragma once
// An operator's request to end a long-running program: Ctrl-C or SIGTERM
// (POSIX), Ctrl-C, Ctrl-Break or closing the console (Windows).

namespace zv {

// From now on such a request no longer ends the process at once; it is only
// noted, for the program's loop to see.
void catch_stop_requests();
// True once a request has been noted.
bool stop_requested();

}  // namespace zv
