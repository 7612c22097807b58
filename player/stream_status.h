#pragma once
// The stream's state for the pages: stream_status.txt in the server folder,
// one line per stream, "up" or "down", the time since (seconds since 1970),
// its address and why it is down, separated by tabs; rewritten whenever a
// stream goes up or down.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace zv::player {

inline constexpr const char* STREAM_STATUS_FILE = "stream_status.txt";

struct StreamState {
  bool up = false;
  std::int64_t since = 0;
  std::string error;
};

// Keyed by the stream's address.
bool write_stream_status(const std::filesystem::path& file, const std::map<std::string, StreamState>& streams);

}  // namespace zv::player
