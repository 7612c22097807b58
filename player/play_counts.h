#pragma once
// The record of every play and fault, and the play counts the playlist
// rotates on. A play is counted, and recorded, in one transaction with its
// row of play_record, which bears the play's own key: a play already on
// record is never counted again, whatever moment the player ended at. Until
// the library takes them, plays and faults wait in a file beside it, so that
// nothing is lost while the library cannot be reached, nor when the player
// ends meanwhile.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

namespace zv::player {

inline constexpr const char* PENDING_PLAYS_FILE = "plays_pending.txt";

// How a play ended, as play_record.outcome holds it.
inline constexpr const char* OUTCOME_PLAYED = "played";        // played out
inline constexpr const char* OUTCOME_SKIPPED = "skipped";      // skipped by the operator
inline constexpr const char* OUTCOME_FAILED = "failed";        // missing, not audio, the device failed
inline constexpr const char* OUTCOME_STOPPED = "stopped";      // cut by the operator's stop

// Who heard one play: listeners at its start, the most at one time, and
// listeners times the seconds they listened.
struct Audience {
  std::int64_t at_start = 0, peak = 0, listener_seconds = 0;
};

struct Play {
  std::optional<std::int32_t> song_id;  // looked up by path when not known
  std::string path;                     // the song's path; a fault's text
  std::int64_t played = 0;              // seconds since 1970, UTC: when it ended
  // Only a play with a key is recorded; one without is only counted.
  std::string key;
  std::int64_t started = 0;
  std::string source = "sent";          // "sent" or "scheduled"; a fault's kind
  std::string outcome = OUTCOME_PLAYED;
  bool fault = false;                   // a row of fault_record rather than play_record
  std::optional<Audience> audience{};   // none while the stream is off
};

enum class CountResult { counted, not_in_library, unreachable };

// In one transaction: the play's row of play_record (when it has a key and
// has none yet) and, for a play played out, the song's play_count + 1 and
// play_time, and the folder's play_count + 1 when none of its songs is left
// at it. A recorded play also gets its row of play_detail: the song's tags
// as they are now, and its audience. A fault replaces its row of
// fault_record. `counted` also when the play was on record already.
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
