#include "platform/console.h"
#include "platform/named_mutex.h"
#include "platform/thread.h"
#include "player_window/protocol.h"
#include "server/connection_handler.h"

#include <cstdio>

int main() {
  zv::console_setup();
  zv::use_precise_timers();  // the 50 us quiet period, on every thread started from here
  zv::create_named_mutex(zv::CONNECTION_MUTEX_NAME);  // kept open for the life of the process
  zv::set_console_title(zv::CONSOLE_TITLE);
  const bool ran = zv::run_thread_and_wait(zv::socket_listen_mt, nullptr);
  zv::narrate("Hello World!\n");
  // The listener only returns when it could not listen: that is a failure.
  return !ran || zv::listener_failed() ? 1 : 0;
}
