#pragma once
// Hands the songs named by item0, item1, ... to the player window.

namespace zv {

// 1 when the hand-off ran, 0 otherwise (always 0 without a query).
int hand_off_items(const char* prefix, const char* query);

}  // namespace zv
