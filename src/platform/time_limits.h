#pragma once
// The server's fixed waits (the 30 s lock and script limits, the 10 s wait for
// a connection's first bytes, the 5 s wait for the player's answer). Tests that wait such a limit out shorten them
// all alike with ZV_TEST_LIMIT_DIVISOR=N, which divides each by N; nothing
// else sets it, and without it every limit is as written.

#include <chrono>

namespace zv {

std::chrono::milliseconds time_limit(std::chrono::milliseconds as_written);

}  // namespace zv
