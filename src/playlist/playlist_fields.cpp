#include "playlist/playlist_fields.h"

#include <cstring>

#include "platform/path_style.h"
#include "text/encoding.h"

namespace zv {
namespace {

void append_field(FormBody& body, const char* name, std::uint32_t position, const char* suffix, const char* value) {
  body.append(name);
  body.append_char('[');
  body.append_int(static_cast<std::int32_t>(position));
  body.append(suffix);
  if (const auto encoded = form_encode_utf8(value, 0)) body.append(encoded->c_str());
  body.append_char('&');
}

}  // namespace

std::string song_base_name(const char* song_name) {
  const char* separator = std::strrchr(song_name, FOLDER_SEPARATOR_NARROW);
  std::string base = separator ? separator + 1 : song_name;
  if (const auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
  return base;
}

void append_song_fields(FormBody& body, std::uint32_t position, const char* song_name, std::int32_t song_id) {
  append_field(body, "file", position, "][]=", song_base_name(song_name).c_str());
  body.append("fileid[");
  body.append_int(static_cast<std::int32_t>(position));
  body.append("][]=");
  body.append_long(song_id);
  body.append_char('&');
}

void append_colour_fields(FormBody& body, std::uint32_t position, const PlaylistFolder& folder) {
  append_field(body, "dir_color", position, "]=", folder.color);
  append_field(body, "dir_bgcolor", position, "]=", folder.bgcolor);
}

}  // namespace zv
