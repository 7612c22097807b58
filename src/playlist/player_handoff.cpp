#include "playlist/player_handoff.h"

#include <cstring>
#include <optional>
#include <string>

#include "library/query.h"
#include "library/statements.h"
#include "platform/console.h"
#include "platform/narration_batch.h"
#include "platform/time_limits.h"
#include "platform/window_messages.h"
#include "playlist/song_row.h"
#include "text/encoding.h"
#include "text/request.h"

namespace zv {
namespace {

// Only a decimal number that fits a 32-bit signed integer goes into the
// lookup: the value is placed in the statement as it was given.
bool is_song_id(const std::u16string& value) {
  std::size_t i = value.size() > 0 && value[0] == u'-' ? 1 : 0;
  if (i == value.size()) return false;
  const std::int64_t limit = i ? 2147483648LL : 2147483647LL;
  std::int64_t number = 0;
  for (; i < value.size(); ++i) {
    if (value[i] < u'0' || value[i] > u'9') return false;
    number = number * 10 + (value[i] - u'0');
    if (number > limit) return false;
  }
  return true;
}

// The stored path of the song, or none when the library has no such song.
std::optional<std::u16string> song_path(const std::u16string& song_id) {
  SongRow row;
  Query query;
  row.run(query, SQL_SONG_BY_ID, {song_id});
  if (!query.on_row()) return std::nullopt;
  std::size_t length = std::strlen(row.song_name);
  while (length > 0 && row.song_name[length - 1] == ' ') --length;
  row.song_name[length] = 0;
  return utf8_to_wide(row.song_name, -1);
}

}  // namespace

int hand_off_items(const char* prefix, const char* query) {
  if (!prefix || !query || !*prefix) return 0;
  const WindowHandle player = find_window(PLAYER_WINDOW_CAPTION);
  if (!player) return 0;
  const WindowHandle console = find_window(CONSOLE_TITLE);
  if (!console) return 0;
  // A player that leaves one message unanswered gets no more of this
  // hand-off, so however many items there are it holds the server once.
  bool answering = true;
  const auto answer_wait =
      static_cast<std::uint32_t>(time_limit(std::chrono::milliseconds(PLAYER_ANSWER_TIMEOUT_MS)).count());
  const auto send = [&](std::uint64_t dw_data, std::uint32_t cb_data, const void* data) {
    flush_narration();  // the player may take its time to answer
    answering = send_copy_data(player, console, dw_data, cb_data, data, answer_wait) == SendResult::answered;
    if (!answering) narrate("\n---> The player did not answer: nothing more is sent to it\n");
  };
  for (int i = 0; i < MAX_HANDOFF_ITEMS && answering; ++i) {
    const std::string key = prefix + std::to_string(i);
    const auto value = query_param(key.c_str(), query);
    if (!value || !is_song_id(*value)) continue;
    const auto path = song_path(*value);
    if (!path) continue;
    if (i == 0) send(COPYDATA_LIST_BEGIN, 1, nullptr);
    if (answering)
      send(COPYDATA_LIST_ITEM, static_cast<std::uint32_t>((path->size() + 1) * sizeof(char16_t)), path->c_str());
  }
  if (answering) send(COPYDATA_LIST_END, 1, nullptr);
  return 1;
}

}  // namespace zv
