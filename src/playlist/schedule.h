#pragma once
// Which schedule entry applies to the coming hour, and its folders.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/local_time.h"

namespace zv {

inline constexpr std::int32_t EVERY_DAY_BIT = 0x80;

struct ComingHour {
  int hour = 0;      // the hour after the current one, 0..23
  int day_bit = 0;   // Monday 0x01 ... Sunday 0x40
};

ComingHour coming_hour(const LocalTime& now);
// The hour `now` is in, by the same rules.
ComingHour current_hour(const LocalTime& now);

// The first enabled entry for the hour (exact hour before every-hour entries)
// whose week days take in the day; the last one read when none does.
std::optional<std::int32_t> choose_schedule_entry(const ComingHour& slot);

struct PlaylistFolder {
  bool missing = false;  // the entry names a folder the library no longer has
  std::int32_t song_dir_id = 0;
  std::int32_t play_count = 0;
  char color[30] = {};     // "#rrggbb"
  char bgcolor[30] = {};   // "#RRGGBB"
};

// One record per enabled folder of the entry, in their order; records the
// library did not deliver stay zero. Empty when the entry has no folder.
std::vector<PlaylistFolder> read_entry_folders(std::int32_t playinfo_id);

}  // namespace zv
