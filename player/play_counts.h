#pragma once
// The play counts the playlist rotates on. A song played to its end counts
// once it is in the library; until then it waits in a file beside the
// library, so that nothing is lost while the library cannot be reached, nor
// when the player ends meanwhile.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

namespace zv::player {

inline constexpr const char* PENDING_PLAYS_FILE = "plays_pending.txt";

struct Play {
  std::optional<std::int32_t> song_id;  // looked up by path when not known
  std::string path;
  std::int64_t played = 0;  // seconds since 1970, UTC
};

enum class CountResult { counted, not_in_library, unreachable };

// In one transaction: the song's play_count + 1 and play_time; the folder's
// play_count + 1 when none of its songs is left at it.
CountResult count_play(const Play& play);

// Plays not yet in the library, kept in `file` (one a line).
class PendingPlays {
 public:
  explicit PendingPlays(std::filesystem::path file);  // takes over what the file holds
  void add(Play play);
  bool empty() const { return plays_.empty(); }
  std::size_t size() const { return plays_.size(); }
  const Play& front() const { return plays_.front(); }
  void pop_front();

 private:
  void save() const;
  std::filesystem::path file_;
  std::deque<Play> plays_;
};

}  // namespace zv::player
