#include "stream_status.h"

#include <fstream>

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
  auto partial = file;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    for (const auto& [address, state] : streams) {
      out << (state.up ? "up" : "down") << '\t' << state.since << '\t' << field(address) << '\t' << field(state.error)
          << '\n';
    }
    if (!out.flush()) return false;
  }
  std::error_code failed;
  std::filesystem::rename(partial, file, failed);
  return !failed;
}

}  // namespace zv::player
