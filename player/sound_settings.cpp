#include "sound_settings.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace zv::player {

namespace {

template <typename Number>
void read_number(const std::string& text, Number& into, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc() && end == text.data() + text.size() && value >= low && value <= high) into = value;
}

}  // namespace

std::vector<StreamTarget> SoundSettings::streams() const {
  std::vector<StreamTarget> targets;
  if (!stream_on || stream_host.empty()) return targets;
  if (stream_mp3) targets.push_back({stream_host, stream_port, stream_mount + ".mp3", stream_password, false, 128});
  if (stream_opus) targets.push_back({stream_host, stream_port, stream_mount + ".opus", stream_password, true, 96});
  for (StreamTarget& target : targets) {
    target.name = station_name;
    target.description = station_description;
    target.genre = station_genre;
    target.url = station_url;
  }
  return targets;
}

SoundSettings parse_sound_settings(const std::string& text) {
  SoundSettings settings;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals), value = line.substr(equals + 1);
    if (name == "target_lufs") read_number(value, settings.target_lufs, -40.0, -5.0);
    if (name == "crossfade_s") read_number(value, settings.crossfade_s, 0.0, 15.0);
    if (name == "stream_on") settings.stream_on = value == "1";
    if (name == "stream_host") settings.stream_host = value;
    if (name == "stream_port") read_number(value, settings.stream_port, 1, 65535);
    if (name == "stream_mount" && value.starts_with('/')) settings.stream_mount = value;
    if (name == "stream_mp3") settings.stream_mp3 = value == "1";
    if (name == "stream_opus") settings.stream_opus = value == "1";
    if (name == "station_name") settings.station_name = value;
    if (name == "station_description") settings.station_description = value;
    if (name == "station_genre") settings.station_genre = value;
    if (name == "station_url") settings.station_url = value;
  }
  return settings;
}

SoundSettings read_sound_settings(const std::filesystem::path& server_folder) {
  std::ifstream in(server_folder / SOUND_SETTINGS_FILE, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  SoundSettings settings = parse_sound_settings(text.str());
  std::ifstream password(server_folder / STREAM_PASSWORD_FILE);
  std::getline(password, settings.stream_password);
  if (!settings.stream_password.empty() && settings.stream_password.back() == '\r') settings.stream_password.pop_back();
  return settings;
}

}  // namespace zv::player
