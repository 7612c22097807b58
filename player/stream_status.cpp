#include "stream_status.h"

#include <sstream>

#include "platform/file_access.h"

namespace zv::player {

namespace {

// A field holds no tab or line break.
std::string field(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

bool write_stream_status(const std::filesystem::path& file, const std::map<std::string, StreamState>& streams) {
  std::ostringstream out;
  for (const auto& [address, state] : streams) {
    out << (state.up ? "up" : "down") << '\t' << state.since << '\t' << field(address) << '\t' << field(state.error)
        << '\n';
  }
  return write_file_whole(file, out.str());
}

}  // namespace zv::player
