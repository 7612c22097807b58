#pragma once
// The faults the operator is shown: each opens when it is found, passes when
// it is over, and leaves the banner once it has passed and the operator has
// seen it. Every fault that opens or passes goes on record; those not yet
// seen are kept in the saved state and survive the player's end.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zv::player {

enum class FaultKind {
  not_running,  // the player found at its start that it had not run
  device,       // the sound device fails
  skipped,      // a song missing, not audio, failed or silent; passes at once
  silent,       // nothing on air while there are songs to play
  stream,       // a stream server does not take the program
};

// The kind's name, as onair.json and the record hold it; and back.
const char* fault_kind_name(FaultKind kind);
std::optional<FaultKind> fault_kind_named(std::string_view name);

struct Fault {
  std::string key;  // its name in the record
  FaultKind kind = FaultKind::skipped;
  std::string text;          // what happened, for the operator
  std::int64_t started = 0;  // seconds since 1970
  std::int64_t ended = 0;    // 0 while it lasts
  bool seen = false;
};

class FaultLog {
 public:
  // `record` puts a fault that opened or passed on record; `new_key` numbers
  // the faults.
  FaultLog(std::function<void(const Fault&)> record, std::function<std::int64_t()> new_key);

  // A fault of `kind` opens, unless one lasts (a skipped song is always one
  // of its own, and passes at once). True when it opened.
  bool open(FaultKind kind, std::string text, std::int64_t started, std::int64_t now);
  // The lasting fault of `kind` has passed.
  void pass(FaultKind kind, std::int64_t now);
  void seen(std::string_view key);
  bool lasts(FaultKind kind) const;

  const std::deque<Fault>& faults() const { return faults_; }
  // As the saved state had them.
  void restore(std::deque<Fault> faults) { faults_ = std::move(faults); }

 private:
  void forget_seen();

  std::function<void(const Fault&)> record_;
  std::function<std::int64_t()> new_key_;
  std::deque<Fault> faults_;
};

}  // namespace zv::player
