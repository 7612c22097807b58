#include "playlist/schedule.h"

#include <cstdio>

#include "library/database.h"
#include "library/statements.h"

namespace zv {
namespace {

// Colours hold red in the lowest byte, then green, then blue.
void colour_text(char (&text)[30], std::int32_t colour, const char* format) {
  std::snprintf(text, sizeof text, format, colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

ColumnBinding integer_binding(std::int32_t& target) {
  ColumnBinding binding;
  binding.c_type = SQL_C_LONG;
  binding.target = &target;
  return binding;
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
  StatementBuffer sql;
  if (!format_statement(sql, SQL_SCHEDULE_ENTRIES, {slot.hour})) return std::nullopt;
  std::int32_t playinfo_id = 0, play_time = 0, week_days = 0;
  ColumnBinding bindings[] = {integer_binding(playinfo_id), integer_binding(play_time), integer_binding(week_days)};
  SQLHSTMT statement = nullptr;
  SQLRETURN code = db_query(sql, bindings, 3, &statement);
  std::optional<std::int32_t> chosen;
  while (sql_succeeded(code)) {
    chosen = playinfo_id;
    if (week_days & (slot.day_bit | EVERY_DAY_BIT)) break;
    code = SQLFetch(statement);
  }
  release_statement(statement, code);
  return chosen;
}

std::vector<PlaylistFolder> read_entry_folders(std::int32_t playinfo_id) {
  StatementBuffer sql;
  std::int32_t count = 0;
  ColumnBinding count_binding = integer_binding(count);
  SQLHSTMT statement = nullptr;
  SQLRETURN code = -1;
  if (format_statement(sql, SQL_COUNT_ENTRY_FOLDERS, {playinfo_id}))
    code = db_query(sql, &count_binding, 1, &statement);
  const bool counted = sql_succeeded(code);
  release_statement(statement, code);
  if (!counted || count <= 0) return {};

  std::vector<PlaylistFolder> folders(static_cast<std::size_t>(count));
  std::int32_t song_dir_id = 0, play_count = 0, dir_color = 0, dir_bgcolor = 0;
  ColumnBinding bindings[] = {integer_binding(song_dir_id), integer_binding(play_count), integer_binding(dir_color),
                              integer_binding(dir_bgcolor)};
  code = -1;
  if (format_statement(sql, SQL_ENTRY_FOLDERS, {playinfo_id})) code = db_query(sql, bindings, 4, &statement);
  std::size_t stored = 0;
  while (sql_succeeded(code)) {
    PlaylistFolder& folder = folders[stored];
    // The join gives NULL for a folder that was removed; its key is not 0.
    folder.missing = column_is_null(bindings[0]);
    folder.song_dir_id = song_dir_id;
    folder.play_count = play_count;
    colour_text(folder.color, dir_color, "#%02x%02x%02x");
    colour_text(folder.bgcolor, dir_bgcolor, "#%02X%02X%02X");
    if (++stored == folders.size()) break;
    code = SQLFetch(statement);
  }
  release_statement(statement, code);
  if (stored == 0) return {};
  return folders;
}

}  // namespace zv
