#include "song_tags.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <chrono>
#include <cstdlib>

namespace zv::player {

namespace {

constexpr char STORE_TAGS[] =
    "insert or replace into song_tags (song_id, file_size, file_mtime, title, artist, album, album_artist, year, "
    "genre, "
    "track, composer, isrc, label, copyright, length_ms, track_gain, track_peak, album_gain, album_peak, read_at) "
    "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

std::string utf8(const TagLib::String& text) { return text.stripWhiteSpace().to8Bit(true); }

// The first value of `key`, trimmed; empty when there is none.
std::string first(const TagLib::PropertyMap& properties, const char* key) {
  const auto found = properties.find(key);
  if (found == properties.end() || found->second.isEmpty()) return "";
  return utf8(found->second.front());
}

// The leading number of a text such as "2019-05-01" or "3/12"; 0 without one.
std::int64_t leading_number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// A ReplayGain value such as "-6.48 dB" or "0.988"; none when it holds no number.
std::optional<double> gain_value(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return std::nullopt;
  return value;
}

Value number_or_null(const std::optional<double>& value) { return value ? Value::real(*value) : Value::null(); }

}  // namespace

std::optional<SongTags> read_song_tags(const std::string& path) {
  TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Fast);
  if (file.isNull()) return std::nullopt;
  SongTags tags;
  if (const TagLib::AudioProperties* audio = file.audioProperties()) tags.length_ms = audio->lengthInMilliseconds();
  const TagLib::Tag* tag = file.tag();
  if (!tag) return tags;
  const TagLib::PropertyMap properties = file.file()->properties();
  // By their property names, which every format maps its own fields to
  // (RIFF INFO's too, which a WAV file's tag() leaves out); the tag itself
  // where a format has no such property.
  auto text = [&](const char* key, const TagLib::String& fallback) {
    const std::string value = first(properties, key);
    return value.empty() ? utf8(fallback) : value;
  };
  tags.title = text("TITLE", tag->title());
  tags.artist = text("ARTIST", tag->artist());
  tags.album = text("ALBUM", tag->album());
  tags.genre = text("GENRE", tag->genre());
  tags.year = tag->year() ? tag->year() : leading_number(first(properties, "DATE"));
  tags.track = tag->track() ? tag->track() : leading_number(first(properties, "TRACKNUMBER"));
  tags.album_artist = first(properties, "ALBUMARTIST");
  tags.composer = first(properties, "COMPOSER");
  tags.isrc = first(properties, "ISRC");
  tags.label = first(properties, "LABEL");
  if (tags.label.empty()) tags.label = first(properties, "PUBLISHER");
  tags.copyright = first(properties, "COPYRIGHT");
  tags.track_gain = gain_value(first(properties, "REPLAYGAIN_TRACK_GAIN"));
  tags.track_peak = gain_value(first(properties, "REPLAYGAIN_TRACK_PEAK"));
  tags.album_gain = gain_value(first(properties, "REPLAYGAIN_ALBUM_GAIN"));
  tags.album_peak = gain_value(first(properties, "REPLAYGAIN_ALBUM_PEAK"));
  return tags;
}

bool store_song_tags(LibraryConnection& library, std::int32_t song_id, const FileStamp& stamp, const SongTags& tags) {
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  Statement store(&library, STORE_TAGS);
  return store.run({std::int64_t{song_id},
                    stamp.size,
                    stamp.modified_s(),
                    tags.title,
                    tags.artist,
                    tags.album,
                    tags.album_artist,
                    tags.year,
                    tags.genre,
                    tags.track,
                    tags.composer,
                    tags.isrc,
                    tags.label,
                    tags.copyright,
                    tags.length_ms,
                    number_or_null(tags.track_gain),
                    number_or_null(tags.track_peak),
                    number_or_null(tags.album_gain),
                    number_or_null(tags.album_peak),
                    std::int64_t{now}});
}

std::string stream_title(const std::string& artist, const std::string& title, const std::string& fallback) {
  if (title.empty()) return fallback;
  return artist.empty() ? title : artist + " - " + title;
}

}  // namespace zv::player
