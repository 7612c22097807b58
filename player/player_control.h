#pragma once
// The messages another program steers the player by, on the player's own
// window (docs/player-control.md): a dwData of its own for each, the data
// UTF-8 text.

#include <cstdint>
#include <string>

namespace zv::player {

enum ControlMessage : std::uint64_t {
  CONTROL_SKIP = 2001,        // the song on air ends, the next starts at once
  CONTROL_STOP = 2002,        // the operator stops the station
  CONTROL_RESUME = 2003,      // and lets it play again
  CONTROL_REMOVE = 2004,      // data: a waiting song's key
  CONTROL_MOVE_UP = 2005,     // data: a waiting song's key
  CONTROL_MOVE_DOWN = 2006,   // data: a waiting song's key
  CONTROL_MOVE_NEXT = 2007,   // data: a waiting song's key
  CONTROL_PUT_NEXT = 2008,    // data: song paths, one a line, to go on air next in that order
  CONTROL_PUT_END = 2009,     // data: song paths, one a line, to go at the end of the sent songs
  CONTROL_FAULT_SEEN = 2010,  // data: a fault's key: the operator has seen it
};

inline bool is_control_message(std::uint64_t dw_data) { return dw_data >= CONTROL_SKIP && dw_data <= CONTROL_FAULT_SEEN; }

}  // namespace zv::player
