#pragma once
// Hands the songs named by item0, item1, ... to the player window.

#include "player_window/protocol.h"

namespace zv {

// item0 to item499 are probed; higher numbers are ignored.
inline constexpr int MAX_HANDOFF_ITEMS = 500;

// 1 when both the player window and the server's console window were found
// (the hand-off ran, whatever it sent), 0 otherwise (always 0 without a query).
int hand_off_items(const char* prefix, const char* query);

}  // namespace zv
