#include "player_state.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "tab_fields.h"

namespace zv::player {

namespace {

// "<key>\t<start_at>\t<source>\t<id>\t<play_key>\t<play_started>\t<path>": the path
// last, as it may hold a tab.
std::string song_line(const QueuedSong& song) {
  std::ostringstream line;
  line << song.key << '\t' << song.start_at << '\t' << source_name(song.source) << '\t'
       << (song.id ? std::to_string(*song.id) : std::string()) << '\t' << song.play_key << '\t' << song.play_started
       << '\t' << song.path;
  return line.str();
}

std::optional<QueuedSong> parse_song(const std::string& text) {
  const auto part = tab_fields(text, 7);
  if (part.empty() || part[6].empty()) return std::nullopt;
  QueuedSong song;
  song.key = integer_field(part[0]);
  song.start_at = std::strtod(part[1].c_str(), nullptr);
  song.source = part[2] == "schedule" ? SongSource::schedule : SongSource::handoff;
  if (!part[3].empty()) song.id = static_cast<std::int32_t>(integer_field(part[3]));
  song.play_key = part[4];
  song.play_started = integer_field(part[5]);
  song.path = part[6];
  return song;
}

}  // namespace

bool save_player_state(const std::filesystem::path& file, const SavedState& state) {
  auto partial = file;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << "alive\t" << state.alive << "\nstopped\t" << (state.stopped ? 1 : 0) << "\nnext_key\t" << state.next_key << '\n';
    if (state.now) {
      out << "now\t" << state.now->play_key << '\t' << state.now->started << '\t' << state.now->position << '\t'
          << song_line(state.now->song) << '\n';
    }
    for (const auto& song : state.queue) out << "queue\t" << song_line(song) << '\n';
    for (const auto& song : state.schedule) out << "schedule\t" << song_line(song) << '\n';
    if (!out.flush()) return false;
  }
  std::error_code failed;
  std::filesystem::rename(partial, file, failed);
  return !failed;
}

std::optional<SavedState> load_player_state(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  SavedState state;
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string name = line.substr(0, tab), rest = line.substr(tab + 1);
    if (name == "alive") {
      state.alive = integer_field(rest);
    } else if (name == "stopped") {
      state.stopped = rest == "1";
    } else if (name == "next_key") {
      state.next_key = integer_field(rest);
    } else if (name == "now") {
      const auto part = tab_fields(rest, 4);
      if (part.empty()) continue;
      if (auto song = parse_song(part[3])) {
        state.now = SongOnAir{std::move(*song), part[0], integer_field(part[1]), std::strtod(part[2].c_str(), nullptr)};
      }
    } else if (name == "queue" || name == "schedule") {
      if (auto song = parse_song(rest)) (name == "queue" ? state.queue : state.schedule).push_back(std::move(*song));
    }
  }
  return state;
}

}  // namespace zv::player
