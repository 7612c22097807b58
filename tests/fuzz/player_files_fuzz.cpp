// What the player reads back, from whatever bytes: its saved state, the
// records waiting for the library, the sound settings, and the window's
// messages (a song handed off, a control message's key or paths).

#include "fuzz_checks.h"
#include "play_counts.h"
#include "play_queue.h"
#include "player_state.h"
#include "player_window/protocol.h"
#include "sound_settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using namespace zv;
using namespace zv::player;

// What the queue holds survives the saved state, whatever paths it was given.
void check_saved(const PlayQueue& queue) {
  SavedState state;
  state.queue = queue.sent();
  const SavedState back = parse_player_state(player_state_text(state));
  fuzz::check(back.queue.size() == state.queue.size(), "every song waiting is saved");
  for (std::size_t i = 0; i < back.queue.size() && i < state.queue.size(); ++i) {
    fuzz::check(back.queue[i].path == state.queue[i].path && back.queue[i].key == state.queue[i].key,
                "a song comes back as it was saved");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 65536) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: {  // player_state.txt: read, written and read again, it stays the same
      const std::string once = player_state_text(parse_player_state(text));
      fuzz::check(player_state_text(parse_player_state(once)) == once, "the saved state reads back as written");
      break;
    }
    case 1: {  // plays_pending.txt
      const std::string once = pending_text(read_pending(text));
      fuzz::check(pending_text(read_pending(once)) == once, "the waiting records read back as written");
      break;
    }
    case 2: {  // sound_settings.txt: every value within its bounds
      const SoundSettings settings = parse_sound_settings(text);
      fuzz::check(settings.target_lufs >= -40 && settings.target_lufs <= -5, "loudness within bounds");
      fuzz::check(settings.crossfade_s >= 0 && settings.crossfade_s <= 15, "crossfade within bounds");
      fuzz::check(settings.stream_port >= 1 && settings.stream_port <= 65535, "port within bounds");
      fuzz::check(settings.stream_mount.starts_with('/'), "a mount begins with /");
      break;
    }
    case 3: {  // a song handed off: its UTF-16 data as the window receives it
      const CopyData message{0, COPYDATA_LIST_ITEM, static_cast<std::uint32_t>(text.size()), text.data()};
      const std::string path = copy_data_text(message);
      PlayQueue queue;
      fuzz::check(queue.add_sent(path) == acceptable_path(path), "a path is queued exactly when acceptable");
      check_saved(queue);
      break;
    }
    default: {  // a control message: a key, or paths to put next
      if (const auto key = parse_key(text)) {
        fuzz::check(!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && *key >= 0,
                    "a key is plain decimal digits");
      }
      PlayQueue queue;
      const auto paths = message_paths(text);
      queue.put(paths, data[0] & 8);
      for (const std::string& path : paths) fuzz::check(!path.empty(), "no empty path is put");
      check_saved(queue);
      break;
    }
  }
  return 0;
}
