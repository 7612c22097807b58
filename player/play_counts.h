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
#include <variant>

namespace zv::player {

inline constexpr const char* PENDING_PLAYS_FILE = "plays_pending.txt";

// How a play ended, as play_record.outcome holds it.
inline constexpr const char* OUTCOME_PLAYED = "played";    // played out
inline constexpr const char* OUTCOME_SKIPPED = "skipped";  // skipped by the operator
inline constexpr const char* OUTCOME_FAILED = "failed";    // missing, not audio, the device failed
inline constexpr const char* OUTCOME_STOPPED = "stopped";  // cut by the operator's stop

// Who heard one play: listeners at its start, the most at one time, and
// listeners times the seconds they listened.
struct Audience {
  std::int64_t at_start = 0, peak = 0, listener_seconds = 0;
};

// A row of play_record; a play played out also counts for its song.
struct PlayRecord {
  std::optional<std::int32_t> song_id;  // looked up by path when not known
  std::string path;
  std::int64_t ended = 0;  // seconds since 1970, UTC
  // Only a play with a key is recorded; one without is only counted.
  std::string key;
  std::int64_t started = 0;
  std::string source = "sent";  // "sent" or "scheduled"
  std::string outcome = OUTCOME_PLAYED;
  std::optional<Audience> audience{};  // none while the stream is off
};

// A row of fault_record, replaced as the fault goes on.
struct FaultRecord {
  std::string key;
  std::string kind;
  std::string text;
  std::int64_t started = 0;
  std::int64_t ended = 0;  // 0 while it lasts
};

using Recorded = std::variant<PlayRecord, FaultRecord>;

enum class CountResult { counted, not_in_library, unreachable };

// In one transaction: the play's row of play_record (when it has a key and
// has none yet) and, for a play played out, the song's play_count + 1 and
// play_time, and the folder's play_count + 1 when none of its songs is left
// at it. A recorded play also gets its row of play_detail: the song's tags
// as they are now, and its audience. `counted` also when the play was on
// record already.
CountResult count_play(const PlayRecord& play);
// Replaces the fault's row of fault_record.
CountResult record_fault(const FaultRecord& fault);

// Plays and faults not yet in the library, kept in `file` (one a line).
class PendingRecords {
 public:
  explicit PendingRecords(std::filesystem::path file);  // takes over what the file holds
  // False when the file could not be written (the record waits in memory).
  bool add(Recorded record);
  bool empty() const { return records_.empty(); }
  std::size_t size() const { return records_.size(); }
  const Recorded& front() const { return records_.front(); }
  void pop_front();

 private:
  bool save() const;
  std::filesystem::path file_;
  std::deque<Recorded> records_;
};

// The file's text for `records`, and the records a file's text holds.
std::string pending_text(const std::deque<Recorded>& records);
std::deque<Recorded> read_pending(const std::string& text);

}  // namespace zv::player
