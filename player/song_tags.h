#pragma once
// What a song's file says of itself: its tags (ID3v1 and v2, APE, Vorbis
// comments, RIFF INFO, MP4, FLAC), read with TagLib, as UTF-8 whatever the
// tag's own encoding. They are kept in the library's song_tags, a row per
// song, beside the file's size and modification time so that a changed file
// is read again.

#include <cstdint>
#include <optional>
#include <string>

#include "file_stamp.h"
#include "library/query.h"

namespace zv::player {

struct SongTags {
  std::string title, artist, album, album_artist, genre, composer, isrc, label, copyright;
  std::int64_t year = 0, track = 0;
  std::int64_t length_ms = 0;
  // ReplayGain, when the file carries it: dB and linear peak.
  std::optional<double> track_gain, track_peak, album_gain, album_peak;
};

// The file's tags; empty texts where it has none. None when TagLib cannot
// read the file at all (not a format it knows).
std::optional<SongTags> read_song_tags(const std::string& path);

// Replaces song `song_id`'s row of song_tags, read from the file as `stamp`
// says. False when the library did not take it.
bool store_song_tags(LibraryConnection& library, std::int32_t song_id, const FileStamp& stamp, const SongTags& tags);

// "Artist - Title" as a stream's title; the title alone without an artist,
// `fallback` (the file's name) without a title.
std::string stream_title(const std::string& artist, const std::string& title, const std::string& fallback);

}  // namespace zv::player
