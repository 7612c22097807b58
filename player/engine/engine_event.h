#pragma once
// What the engine tells the player, in the order it happened on air.

#include <cstdint>
#include <string>

namespace zv::player {

struct EngineEvent {
  enum class Kind {
    none,
    started,
    finished,
    failed,
    device_failed,  // the sound card fails; the program goes on where another output carries it
    device_back,    // the sound card plays again
    held,           // no output carries the program: the songs from `entry` on were not heard whole
    stream_up,
    stream_down
  };
  Kind kind = Kind::none;
  std::int64_t entry = 0;  // what append returned for the song
  std::string error;       // failed, device_failed, stream_down: why
  std::string stream;      // stream_up, stream_down: the stream's address
};

}  // namespace zv::player
