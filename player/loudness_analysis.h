#pragma once
// What a song's file holds, measured once: its loudness and true peak
// (EBU R128), its length, and where its sound begins and ends.

#include <cstdint>
#include <optional>
#include <string>

namespace zv::player {

// Where sound begins and ends: the first and last moment above -50 dBFS.
inline constexpr double SOUND_THRESHOLD_DBFS = -50;
// The loudness the library's replay_gain leads to: the stored gain is the one
// to this loudness, and the player adds the difference to the station's.
inline constexpr double REFERENCE_LUFS = -23;
// A song's true peak after its gain stays at or below this.
inline constexpr double PEAK_LIMIT_DBTP = -1;

struct SongMeasure {
  double loudness_lufs = 0;  // integrated
  double true_peak_dbtp = 0;
  double seconds = 0;
  double sound_begins_s = 0;
  double sound_ends_s = 0;
};

// Decodes `path` as the player would and measures it; none when it holds no sound.
std::optional<SongMeasure> measure_song(const std::string& path);

// The gain that brings the song to `target_lufs`, held down so its true peak
// stays at PEAK_LIMIT_DBTP.
double gain_to(const SongMeasure& measure, double target_lufs);

}  // namespace zv::player
