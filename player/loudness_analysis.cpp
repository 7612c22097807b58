#include "loudness_analysis.h"

#include <ebur128.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "song_decoder.h"

namespace zv::player {

std::optional<SongMeasure> measure_song(const std::string& path) {
  SongDecoder decoder(path, 0);
  while (decoder.status() == SongDecoder::Status::opening) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (decoder.status() != SongDecoder::Status::ready) return std::nullopt;
  ebur128_state* meter = ebur128_init(PROGRAM_CHANNELS, PROGRAM_RATE, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
  if (!meter) return std::nullopt;
  const float threshold = static_cast<float>(std::pow(10.0, SOUND_THRESHOLD_DBFS / 20));
  std::vector<float> frames(PROGRAM_RATE / 10 * PROGRAM_CHANNELS);
  std::int64_t read = 0, first = -1, last = -1;
  for (bool ended = false; !ended;) {
    const std::size_t got = decoder.read(frames.data(), frames.size() / PROGRAM_CHANNELS, ended, 1.0);
    if (got == 0) continue;
    ebur128_add_frames_float(meter, frames.data(), got);
    for (std::size_t f = 0; f < got; ++f) {
      const float level = std::max(std::fabs(frames[f * 2]), std::fabs(frames[f * 2 + 1]));
      if (level < threshold) continue;
      if (first < 0) first = read + static_cast<std::int64_t>(f);
      last = read + static_cast<std::int64_t>(f) + 1;
    }
    read += static_cast<std::int64_t>(got);
  }
  SongMeasure measure;
  double loudness = 0, peak = 0, peak_right = 0;
  const bool measured = ebur128_loudness_global(meter, &loudness) == EBUR128_SUCCESS &&
                        ebur128_true_peak(meter, 0, &peak) == EBUR128_SUCCESS &&
                        ebur128_true_peak(meter, 1, &peak_right) == EBUR128_SUCCESS;
  ebur128_destroy(&meter);
  if (!measured || read == 0) return std::nullopt;
  measure.seconds = static_cast<double>(read) / PROGRAM_RATE;
  // A song of silence has no loudness: it plays unchanged.
  measure.loudness_lufs = std::isfinite(loudness) ? loudness : REFERENCE_LUFS;
  peak = std::max(peak, peak_right);
  measure.true_peak_dbtp = peak > 0 ? 20 * std::log10(peak) : -std::numeric_limits<double>::infinity();
  if (first >= 0) {
    measure.sound_begins_s = static_cast<double>(first) / PROGRAM_RATE;
    measure.sound_ends_s = static_cast<double>(last) / PROGRAM_RATE;
  } else {
    measure.sound_ends_s = measure.seconds;
  }
  return measure;
}

double gain_to(const SongMeasure& measure, double target_lufs) {
  return std::min(target_lufs - measure.loudness_lufs, PEAK_LIMIT_DBTP - measure.true_peak_dbtp);
}

}  // namespace zv::player
