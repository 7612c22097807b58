#pragma once
// The player-window protocol: the windows the server's hand-off speaks to and
// from, the messages a player receives, and how a player reads them. Used by
// the hand-off, the station player and the companion tools alike.

#include <cstdint>
#include <string>

#include "platform/window_messages.h"

namespace zv {

// The title of the player program's window.
inline constexpr const char16_t* PLAYER_WINDOW_CAPTION = u"Zentavio Player";
// The title of the server's console window, which the messages name as their
// sender.
inline constexpr const char16_t* CONSOLE_TITLE = u"PHP Server - Zentavio, 2012";

// WM_COPYDATA dwData of the three messages the player receives.
inline constexpr std::uint64_t COPYDATA_LIST_BEGIN = 1003;  // no data, cbData 1
inline constexpr std::uint64_t COPYDATA_LIST_ITEM = 1001;   // the song's path, UTF-16 with its NUL
inline constexpr std::uint64_t COPYDATA_LIST_END = 1002;    // no data, cbData 1

// How long one message waits for the player's answer. A message left
// unanswered counts as sent, and nothing more goes to that player in the same
// hand-off, so a hung player holds the server for this long at most.
inline constexpr std::uint32_t PLAYER_ANSWER_TIMEOUT_MS = 5000;

// What a player reads from a message: its data as UTF-16 up to the first
// NUL, as UTF-8; empty for a message without data.
std::string copy_data_text(const CopyData& message);

}  // namespace zv
