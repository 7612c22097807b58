// A song at another rate than the program's keeps its length and pitch: the
// decoder converts it into the program's rate, and the analysis of what the
// card heard tells it from the song right after it.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "song_decoder.h"
#include "support/audio_recording.h"
#include "support/server_harness.h"

namespace zv::player {
namespace {

using testing::RECORDING_RATE;

std::vector<int> frequencies(const std::vector<testing::Tone>& tones) {
  std::vector<int> hz;
  for (const testing::Tone& tone : tones) hz.push_back(tone.hz);
  return hz;
}

// The left channel of `path` as the decoder gives it at `rate`, in 16 bits as the card's recording holds it.
std::vector<std::int16_t> decoded_left(const std::string& path, int rate) {
  SongDecoder decoder(path, 0, {}, rate);
  while (decoder.status() == SongDecoder::Status::opening) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::vector<std::int16_t> left;
  std::vector<float> frames(static_cast<std::size_t>(rate / 10) * PROGRAM_CHANNELS);
  for (bool ended = false; !ended;) {
    const std::size_t got = decoder.read(frames.data(), frames.size() / PROGRAM_CHANNELS, ended, 5.0);
    for (std::size_t f = 0; f < got; ++f)
      left.push_back(static_cast<std::int16_t>(std::lround(frames[f * PROGRAM_CHANNELS] * 32767)));
    if (got == 0 && !ended) break;
  }
  return left;
}

TEST(SongRate, A48kHzSongInA44kHzProgramKeepsItsLengthAndPitch) {
  testing::TempDir folder;
  const std::string song = (folder.path() / "stereo48.wav").string();
  ASSERT_EQ(std::system(("sox -n -r 48000 -c 2 '" + song + "' synth 1 sine 600 sine 800 vol 0.5").c_str()), 0);
  const std::vector<std::int16_t> left = decoded_left(song, RECORDING_RATE);
  EXPECT_NEAR(static_cast<double>(left.size()), RECORDING_RATE, RECORDING_RATE / 100.0);
  EXPECT_EQ(frequencies(testing::tones_heard(left)), std::vector<int>{600});
}

// Songs heard back to back, the second starting inside a window of the
// analysis: that window mixes 330 and 600 Hz (about 570 Hz), within reach
// of the 520 Hz song after it.
TEST(SongRate, ASongStartingInsideAWindowIsToldFromTheSongAfterIt) {
  std::vector<std::int16_t> heard;
  for (const auto& [hz, frames] :
       {std::pair{330, RECORDING_RATE / 2 + 120}, {600, RECORDING_RATE}, {520, 2 * RECORDING_RATE}}) {
    for (int i = 0; i < frames; ++i)
      heard.push_back(static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * M_PI * hz * i / RECORDING_RATE))));
  }
  EXPECT_EQ(frequencies(testing::tones_heard(heard)), (std::vector<int>{330, 600, 520}));
}

}  // namespace
}  // namespace zv::player
