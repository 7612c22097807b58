#include "platform/stop_request.h"

#include <csignal>

namespace zv {
namespace {

volatile std::sig_atomic_t requested = 0;

extern "C" void note_stop_request(int) { requested = 1; }

}  // namespace

void catch_stop_requests() {
  struct sigaction action {};
  action.sa_handler = note_stop_request;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool stop_requested() { return requested != 0; }

}  // namespace zv
