#include "player_state.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file_access.h"
#include "play_queue.h"
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
  if (part.empty() || !acceptable_path(part[6])) return std::nullopt;
  QueuedSong song;
  song.key = integer_field(part[0]);
  song.start_at = std::strtod(part[1].c_str(), nullptr);
  if (!(song.start_at >= 0 && song.start_at < 1e9)) song.start_at = 0;  // also NaN
  song.source = part[2] == "schedule" ? SongSource::schedule : SongSource::handoff;
  if (!part[3].empty()) song.id = static_cast<std::int32_t>(integer_field(part[3]));
  song.play_key = part[4];
  song.play_started = integer_field(part[5]);
  song.path = part[6];
  return song;
}

// One line, whatever the text: the file is one record a line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return text;
}

}  // namespace

std::string player_state_text(const SavedState& state) {
  std::ostringstream out;
  out << "alive\t" << state.alive << "\nstopped\t" << (state.stopped ? 1 : 0) << "\nnext_key\t" << state.next_key
      << "\nschedule_hour\t" << state.schedule_hour << '\n';
  if (state.now && acceptable_path(state.now->song.path)) {
    out << "now\t" << one_line(state.now->play_key) << '\t' << state.now->started << '\t' << state.now->position << '\t'
        << song_line(state.now->song) << '\n';
  }
  for (const auto& song : state.queue) {
    if (acceptable_path(song.path)) out << "queue\t" << song_line(song) << '\n';
  }
  for (const auto& song : state.schedule) {
    if (acceptable_path(song.path)) out << "schedule\t" << song_line(song) << '\n';
  }
  for (const Fault& fault : state.faults) {
    out << "fault\t" << one_line(fault.key) << '\t' << fault_kind_name(fault.kind) << '\t' << fault.started << '\t'
        << fault.ended << '\t' << (fault.seen ? 1 : 0) << '\t' << one_line(fault.text) << '\n';
  }
  return out.str();
}

SavedState parse_player_state(const std::string& text) {
  SavedState state;
  std::istringstream in(text);
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
    } else if (name == "schedule_hour") {
      const auto hour = integer_field(rest);
      state.schedule_hour = hour >= 0 && hour < 24 ? static_cast<int>(hour) : -1;
    } else if (name == "now") {
      const auto part = tab_fields(rest, 4);
      if (part.empty()) continue;
      if (auto song = parse_song(part[3])) {
        double position = std::strtod(part[2].c_str(), nullptr);
        if (!(position >= 0 && position < 1e9)) position = 0;
        state.now = SongOnAir{std::move(*song), part[0], integer_field(part[1]), position, std::nullopt};
      }
    } else if (name == "queue" || name == "schedule") {
      if (auto song = parse_song(rest)) (name == "queue" ? state.queue : state.schedule).push_back(std::move(*song));
    } else if (name == "fault") {
      const auto part = tab_fields(rest, 6);
      if (part.empty()) continue;
      const auto kind = fault_kind_named(part[1]);
      if (!kind) continue;
      state.faults.push_back({part[0], *kind, part[5], integer_field(part[2]), integer_field(part[3]), part[4] == "1"});
    }
  }
  return state;
}

bool save_player_state(const std::filesystem::path& file, const SavedState& state) {
  return write_file_whole(file, player_state_text(state));
}

std::optional<SavedState> load_player_state(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return parse_player_state(text.str());
}

}  // namespace zv::player
