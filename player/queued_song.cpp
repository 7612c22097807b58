#include "queued_song.h"

#include "platform/path_style.h"

namespace zv::player {

const char* source_name(SongSource source) { return source == SongSource::handoff ? "handoff" : "schedule"; }

const char* record_source(SongSource source) { return source == SongSource::handoff ? "sent" : "scheduled"; }

std::string song_file_name(const std::string& path) {
  const auto separator = path.find_last_of(FOLDER_SEPARATOR_NARROW);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string song_folder(const std::string& path) {
  const auto separator = path.find_last_of(FOLDER_SEPARATOR_NARROW);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace zv::player
