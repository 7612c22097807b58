#include "platform/stop_request.h"

#include <windows.h>

namespace zv {
namespace {

volatile LONG requested = 0;

BOOL WINAPI note_stop_request(DWORD) {
  InterlockedExchange(&requested, 1);
  return TRUE;
}

}  // namespace

void catch_stop_requests() { SetConsoleCtrlHandler(note_stop_request, TRUE); }

bool stop_requested() { return InterlockedCompareExchange(&requested, 0, 0) != 0; }

}  // namespace zv
