#pragma once
// The server's fixed waits (the 30 s lock and script limits, the 10 s wait for
// a connection's first bytes, the 5 s wait for the player's answer) and the
// player's pauses (5 s before the schedule is drawn again, 2 s between
// publications ...). Tests that wait such a limit out shorten them
// all alike with ZV_TEST_LIMIT_DIVISOR=N, which divides each by N; nothing
// else sets it, and without it every limit is as written.

#include <chrono>

namespace zv {

std::chrono::milliseconds time_limit(std::chrono::milliseconds as_written);

// The whole milliseconds from `now` until `when`, rounded up so that a poll
// for that long does not wake before it; 0 once it has passed.
long milliseconds_until(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now);

}  // namespace zv
