// A song's frames, fades and gains in the program, to the frame.

#include <gtest/gtest.h>

#include <cmath>

#include "song_mixing.h"

namespace zv::player {
namespace {

constexpr int RATE = 44100;

TEST(SongMixing, CuesSetTheFramesASongPlays) {
  EXPECT_EQ(song_frames(1.5, 3.0, 10.0, RATE), 66150);         // from the cue in to the cue out
  EXPECT_EQ(song_frames(0, 12.0, 10.0, RATE), 441000);         // a cue out past the end: to the end
  EXPECT_EQ(song_frames(4.0, 2.0, 10.0, RATE), 264600);        // one before where it begins: to the end
  EXPECT_EQ(song_frames(0, 3.0, std::nullopt, RATE), 132300);  // length unknown, the cue out says
  EXPECT_EQ(song_frames(0, 0, std::nullopt, RATE), std::nullopt);
  EXPECT_EQ(song_frames(10.0, 0, 10.0, RATE), std::nullopt);  // nothing left
}

TEST(SongMixing, ACrossfadeIsAtMostHalfOfEitherSong) {
  EXPECT_EQ(crossfade_frames(3 * RATE, 10 * RATE, 10 * RATE), 3 * RATE);
  EXPECT_EQ(crossfade_frames(3 * RATE, 4 * RATE, 10 * RATE), 2 * RATE);
  EXPECT_EQ(crossfade_frames(3 * RATE, std::nullopt, 5 * RATE), 5 * RATE / 2);
  EXPECT_EQ(crossfade_frames(0, 10 * RATE, 10 * RATE), 0);
}

TEST(SongMixing, ABlockTakesASongFromItsNextFrameToTheBlocksEndOrItsOwn) {
  EXPECT_EQ(frames_in_block(44100, 4410, 44100, -1), 4410);
  EXPECT_EQ(frames_in_block(44100, 4410, 45000, -1), 3510);  // it starts inside the block
  EXPECT_EQ(frames_in_block(44100, 4410, 44100, 100), 100);  // it ends inside the block
}

// Outgoing and incoming song meet at equal power, from full to silent, at every frame.
TEST(SongMixing, ACrossfadeKeepsThePowerEven) {
  constexpr std::int64_t FADE = 1000, TOTAL = 5000;
  const SongFades out{1, 0, FADE, TOTAL, -1, 0};
  const SongFades in{1, FADE, 0, TOTAL, -1, 0};
  EXPECT_DOUBLE_EQ(frame_gain(in, 0), 0);
  EXPECT_DOUBLE_EQ(frame_gain(out, TOTAL - FADE - 1), 1);
  for (std::int64_t t = 0; t < FADE; ++t) {
    const double g_out = frame_gain(out, TOTAL - FADE + t), g_in = frame_gain(in, t);
    ASSERT_NEAR(g_out * g_out + g_in * g_in, 1, 1e-9) << t;
  }
  EXPECT_DOUBLE_EQ(frame_gain(in, FADE), 1);
}

TEST(SongMixing, ASkipFadesLinearlyToSilenceAtItsEnd) {
  const SongFades song{gain_factor(-6.0206), 0, 0, 10000, 3000, 1000};
  EXPECT_NEAR(frame_gain(song, 1999), 0.5, 1e-4);  // the song's own gain until the fade
  EXPECT_NEAR(frame_gain(song, 2500), 0.25, 1e-4);
  EXPECT_DOUBLE_EQ(frame_gain(song, 3000), 0);
  EXPECT_DOUBLE_EQ(frame_gain(song, 3500), 0);
}

}  // namespace
}  // namespace zv::player
