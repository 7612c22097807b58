#pragma once
// The station's sound, as settings.php stores it in the server folder:
// sound_settings.txt, one "name=value" a line, and the stream's source
// password alone in stream_password.txt (kept out of the pages). The player
// reads them at each song; what is missing or unreadable keeps its default.

#include <filesystem>
#include <string>
#include <vector>

#include "playback_engine.h"

namespace zv::player {

inline constexpr const char* SOUND_SETTINGS_FILE = "sound_settings.txt";
inline constexpr const char* STREAM_PASSWORD_FILE = "stream_password.txt";

struct SoundSettings {
  double target_lufs = -23;
  double crossfade_s = 3;
  bool stream_on = false;
  std::string stream_host = "127.0.0.1";
  int stream_port = 8000;
  std::string stream_mount = "/stream";  // the MP3 stream at ".mp3", the Opus one at ".opus"
  std::string stream_password;
  bool stream_mp3 = true;
  bool stream_opus = false;
  std::string station_name, station_description, station_genre, station_url;

  // The stream servers to send to, as these settings say.
  std::vector<StreamTarget> streams() const;
};

SoundSettings read_sound_settings(const std::filesystem::path& server_folder);
// The settings sound_settings.txt's text holds, without the password.
SoundSettings parse_sound_settings(const std::string& text);

}  // namespace zv::player
