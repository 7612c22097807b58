#pragma once
// The facts of the songs the player asked for lately, so that asking again
// for a song due soon costs no trip to the library. It holds a bounded number
// of songs, the one asked for longest ago going first: the player's memory
// does not grow with the library.

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

#include "file_stamp.h"

namespace zv::player {

// What is known of a song's sound, for the engine: its gain, cue points and
// whether its folder is faded, and its name from its tags.
struct SongFacts {
  double replay_gain = 0;         // dB to REFERENCE_LUFS
  std::int32_t fade_in_ms = 0;    // where sound begins
  std::int32_t fade_out_ms = 0;   // where it ends; 0: not measured (it plays as it is)
  bool fades = true;              // false in advertising and jingle folders
  std::string artist{}, title{};  // from its tags; empty when it has none
};

class FactsCache {
 public:
  explicit FactsCache(std::size_t capacity) : capacity_(capacity) {}

  // The facts of `path` when they hold for the file as `stamp` says.
  std::optional<SongFacts> find(const std::string& path, const FileStamp& stamp);
  // Whether the facts held for `path` are for a file other than `stamp` says:
  // one rewritten since, which the library's stamp (whole seconds) may miss.
  bool stale(const std::string& path, const FileStamp& stamp) const;
  // The facts of `path`, holding for the file as `stamp` says.
  void put(const std::string& path, const FileStamp& stamp, SongFacts facts);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string path;
    FileStamp stamp;
    SongFacts facts;
  };
  std::size_t capacity_;
  std::list<Entry> entries_;  // the one asked for last first
  std::unordered_map<std::string, std::list<Entry>::iterator> by_path_;
};

}  // namespace zv::player
