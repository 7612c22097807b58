#include "song_mixing.h"

#include <algorithm>
#include <cmath>

namespace zv::player {

namespace {

constexpr double HALF_PI = 1.5707963267948966;

}  // namespace

std::int64_t frames_at(double seconds, int rate) { return std::llround(seconds * rate); }

std::optional<std::int64_t> song_frames(double begin_s, double cue_out_s, std::optional<double> duration_s, int rate) {
  double end_s = duration_s.value_or(0);
  if (cue_out_s > begin_s && (!duration_s || cue_out_s < *duration_s)) end_s = cue_out_s;
  if (end_s <= begin_s) return std::nullopt;
  return frames_at(end_s - begin_s, rate);
}

std::int64_t crossfade_frames(std::int64_t crossfade, std::optional<std::int64_t> out_frames,
                              std::optional<std::int64_t> in_frames) {
  if (out_frames) crossfade = std::min(crossfade, *out_frames / 2);
  if (in_frames) crossfade = std::min(crossfade, *in_frames / 2);
  return std::max<std::int64_t>(0, crossfade);
}

std::int64_t frames_in_block(std::int64_t block_start, std::int64_t block, std::int64_t next, std::int64_t left) {
  const std::int64_t want = block_start + block - next;
  return left >= 0 ? std::min(want, left) : want;
}

double gain_factor(double gain_db) { return std::pow(10.0, gain_db / 20); }

double frame_gain(const SongFades& song, std::int64_t t) {
  double g = song.gain;
  if (t < song.fade_in) g *= std::sin(HALF_PI * static_cast<double>(t) / static_cast<double>(song.fade_in));
  if (song.fade_out > 0 && song.total - t < song.fade_out) {
    g *= std::sin(HALF_PI * static_cast<double>(std::max<std::int64_t>(0, song.total - t)) /
                  static_cast<double>(song.fade_out));
  }
  if (song.end_fade > 0 && song.end_at - t < song.end_fade) {
    g *= static_cast<double>(std::max<std::int64_t>(0, song.end_at - t)) / static_cast<double>(song.end_fade);
  }
  return g;
}

}  // namespace zv::player
