#include "onair_file.h"

#include <cstdio>

#include "platform/file_access.h"
#include "platform/utf8.h"

namespace zv::player {

namespace {

// Length of the valid UTF-8 sequence at `at`, 0 when there is none.
std::size_t utf8_sequence(const std::string& text, std::size_t at) {
  char32_t value;
  return static_cast<std::size_t>(
      utf8_decode(reinterpret_cast<const unsigned char*>(text.data()) + at, text.size() - at, value));
}

// A JSON string; a byte of a file name that is not UTF-8 shows as U+FFFD.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_sequence(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string song_fields(const QueuedSong& song) {
  return "\"id\":" + (song.id ? std::to_string(*song.id) : std::string("null")) + ",\"path\":" + quoted(song.path) +
         ",\"name\":" + quoted(song_file_name(song.path)) + ",\"source\":" + quoted(source_name(song.source)) +
         ",\"key\":" + std::to_string(song.key);
}

}  // namespace

std::string onair_json(const OnAir& state) {
  std::string json = "{\"updated\":" + std::to_string(state.updated) + ",\"device\":" + quoted(state.device) +
                     ",\"window\":" + quoted(state.window) + ",\"stopped\":" + (state.stopped ? "true" : "false") +
                     ",\"faults\":[";
  for (std::size_t i = 0; i < state.faults.size(); ++i) {
    const Fault& fault = state.faults[i];
    json += std::string(i ? ",{" : "{") + "\"key\":" + quoted(fault.key) +
            ",\"kind\":" + quoted(fault_kind_name(fault.kind)) + ",\"text\":" + quoted(fault.text) +
            ",\"started\":" + std::to_string(fault.started) + ",\"ended\":" + std::to_string(fault.ended) +
            ",\"seen\":" + (fault.seen ? "true" : "false") + "}";
  }
  json += "],\"now\":";
  if (state.now) {
    json += "{" + song_fields(state.now->song) + ",\"started\":" + std::to_string(state.now->started) +
            ",\"position\":" + number(state.now->position) +
            ",\"length\":" + (state.now->length ? number(*state.now->length) : std::string("null")) + "}";
  } else {
    json += "null";
  }
  json += ",\"queue\":[";
  for (std::size_t i = 0; i < state.queue.size(); ++i) json += (i ? ",{" : "{") + song_fields(state.queue[i]) + "}";
  json += "],\"history\":[";
  for (std::size_t i = 0; i < state.history.size(); ++i) {
    const auto& played = state.history[i];
    json += (i ? ",{" : "{") + song_fields(played.song) + ",\"played\":" + std::to_string(played.played) + "}";
  }
  return json + "]}\n";
}

bool write_onair_file(const std::filesystem::path& file, const OnAir& state) {
  return write_file_whole(file, onair_json(state));
}

}  // namespace zv::player
