#include "playlist/schedule.h"

#include <cstdio>

#include "library/query.h"
#include "library/statements.h"

namespace zv {
namespace {

// Colours hold red in the lowest byte, then green, then blue.
void colour_text(char (&text)[30], std::int32_t colour, const char* format) {
  std::snprintf(text, sizeof text, format, colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

}  // namespace

ComingHour coming_hour(const LocalTime& now) {
  ComingHour slot;
  slot.hour = now.hour + 1 == 24 ? 0 : now.hour + 1;
  const int day = now.day_of_week == 0 ? 7 : now.day_of_week;  // Monday 1 ... Sunday 7
  slot.day_bit = 1 << (day - 1);
  return slot;
}

ComingHour current_hour(const LocalTime& now) {
  ComingHour slot = coming_hour(now);
  slot.hour = now.hour;
  return slot;
}

std::optional<std::int32_t> choose_schedule_entry(const ComingHour& slot) {
  std::int32_t playinfo_id = 0, play_time = 0, week_days = 0;
  Query query;
  query.run(SQL_SCHEDULE_ENTRIES, {slot.hour}, {Column(playinfo_id), Column(play_time), Column(week_days)});
  std::optional<std::int32_t> chosen;
  while (query.on_row()) {
    chosen = playinfo_id;
    if (week_days & (slot.day_bit | EVERY_DAY_BIT)) break;
    query.next();
  }
  return chosen;
}

std::vector<PlaylistFolder> read_entry_folders(std::int32_t playinfo_id) {
  std::int32_t count = 0;
  Query query;
  query.run(SQL_COUNT_ENTRY_FOLDERS, {playinfo_id}, {Column(count)});
  if (!query.on_row() || count <= 0) return {};

  std::vector<PlaylistFolder> folders(static_cast<std::size_t>(count));
  std::int32_t song_dir_id = 0, play_count = 0, dir_color = 0, dir_bgcolor = 0;
  query.run(SQL_ENTRY_FOLDERS, {playinfo_id},
            {Column(song_dir_id), Column(play_count), Column(dir_color), Column(dir_bgcolor)});
  std::size_t stored = 0;
  while (query.on_row()) {
    PlaylistFolder& folder = folders[stored];
    // The join gives NULL for a folder that was removed; its key is not 0.
    folder.missing = query.is_null(0);
    folder.song_dir_id = song_dir_id;
    folder.play_count = play_count;
    colour_text(folder.color, dir_color, "#%02x%02x%02x");
    colour_text(folder.bgcolor, dir_bgcolor, "#%02X%02X%02X");
    if (++stored == folders.size()) break;
    query.next();
  }
  if (stored == 0) return {};
  return folders;
}

}  // namespace zv
