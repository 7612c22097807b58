#pragma once
// The arithmetic of a song in the program, to the frame: where it begins
// and ends between its cues, how long it overlaps the songs beside it, and
// the gain of each of its frames (its own gain, the equal-power crossfades
// in and out, the short fade of a skip). Pure, so it is tested alone.

#include <cstdint>
#include <optional>

namespace zv::player {

// `seconds` as frames at `rate`, to the nearest frame.
std::int64_t frames_at(double seconds, int rate);

// The frames a song plays from `begin_s` into its file: to `cue_out_s` when
// that lies after the beginning and within the file, else to the file's end;
// none when its length is not known or nothing is left.
std::optional<std::int64_t> song_frames(double begin_s, double cue_out_s, std::optional<double> duration_s, int rate);

// The overlap of an outgoing song (`out_frames` long, when known) with the
// incoming one (`in_frames` long, when known) for a crossfade of
// `crossfade_frames`: at most half of either song, so neither is all fade.
std::int64_t crossfade_frames(std::int64_t crossfade_frames, std::optional<std::int64_t> out_frames,
                              std::optional<std::int64_t> in_frames);

// The frames of a song that the block of `block` frames from program frame
// `block_start` takes: from the song's next frame `next` (a program frame)
// to the block's end, and no more than the song has left (`left`; -1: not known).
std::int64_t frames_in_block(std::int64_t block_start, std::int64_t block, std::int64_t next, std::int64_t left);

// The linear factor of a gain in dB.
double gain_factor(double gain_db);

// What the program needs to know of a song to give the gain of its frame `t`
// (counted from its first frame in the program).
struct SongFades {
  double gain = 1;            // its gain to the station's loudness, linear
  std::int64_t fade_in = 0;   // frames of equal-power fade in
  std::int64_t fade_out = 0;  // frames of equal-power fade out before `total`
  std::int64_t total = -1;    // its frames; -1 while not known
  std::int64_t end_at = -1;   // the frame it is made to end at (a skip), or -1
  std::int64_t end_fade = 0;  // the linear fade before `end_at`
};

// The factor frame `t` of the song is mixed in with. Equal-power fades
// (sine in, sine out) keep a crossfade's loudness even; a skip's fade is
// linear and reaches silence at `end_at`.
double frame_gain(const SongFades& song, std::int64_t t);

}  // namespace zv::player
