#include "song_facts.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "library/query.h"
#include "library/statements.h"
#include "loudness_analysis.h"
#include "song_tags.h"

namespace zv::player {

namespace {

constexpr char SONGS[] =
    "select s.song_id, s.song_name, s.replay_gain, s.sm_fade_in, s.sm_fade_out, s.file_size, "
    "d.is_ads, d.is_jingle from song s left join song_dir d on d.song_dir_id = s.song_dir_id";
constexpr char TAGS[] = "select song_id, file_size, file_mtime, artist, title from song_tags";
// Songs imported since are found this often.
constexpr auto REREAD_INTERVAL = std::chrono::seconds(60);

}  // namespace

SongFactsWorker::SongFactsWorker() : thread_([this] { run(); }) {}

SongFactsWorker::~SongFactsWorker() {
  {
    std::lock_guard hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::optional<SongFacts> SongFactsWorker::facts(const std::string& path) const {
  std::lock_guard hold(lock_);
  const auto found = facts_.find(path);
  if (found == facts_.end()) return std::nullopt;
  return found->second;
}

void SongFactsWorker::refresh() {
  {
    std::lock_guard hold(lock_);
    refresh_ = true;
  }
  wake_.notify_all();
}

bool SongFactsWorker::read_library() {
  struct Known {
    FileStamp stamp;
    std::string artist, title;
  };
  std::map<std::int32_t, Known> tagged;
  bool tags_kept = false;
  {
    std::int32_t tag_id = 0, tag_size = 0, tag_mtime = 0;
    std::vector<char> artist(TEXT_COLUMN_LENGTH + 2), title(TEXT_COLUMN_LENGTH + 2);
    Statement tags(&library_, TAGS,
                   {Column(tag_id), Column(tag_size), Column(tag_mtime), Column(artist.data(), artist.size()),
                    Column(title.data(), title.size())});
    // A library whose song_tags is not made yet (library-setup not run since) is measured without tags.
    tags_kept = tags.run();
    while (tags_kept && tags.next()) tagged[tag_id] = {{tag_size, tag_mtime}, artist.data(), title.data()};
  }
  std::int32_t id = 0, fade_in = 0, fade_out = 0, size = 0, ads = 0, jingle = 0;
  double gain = 0;
  std::vector<char> name(TEXT_COLUMN_LENGTH + 2);
  Statement songs(&library_, SONGS,
                  {Column(id), Column(name.data(), name.size()), Column(gain), Column(fade_in), Column(fade_out),
                   Column(size), Column(ads), Column(jingle)});
  if (!songs.run()) return false;
  std::map<std::string, SongFacts> facts;
  std::map<std::string, std::int32_t> unmeasured, untagged;
  while (songs.next()) {
    std::string path = songs.is_null(1) ? "" : name.data();
    while (!path.empty() && path.back() == ' ') path.pop_back();  // as the hand-off reads names
    const bool in_ads = !songs.is_null(6) && ads != 0;
    const bool in_jingles = !songs.is_null(7) && jingle != 0;
    SongFacts& song = facts[path] = {gain, fade_in, fade_out, !in_ads && !in_jingles};
    if (size == 0) unmeasured[path] = id;
    const auto known = tagged.find(id);
    if (known != tagged.end()) {
      song.artist = known->second.artist;
      song.title = known->second.title;
    }
    if (!tags_kept) continue;
    if (known == tagged.end() || file_stamp(path).value_or(known->second.stamp) != known->second.stamp) {
      untagged[path] = id;
    }
  }
  std::lock_guard hold(lock_);
  facts_ = std::move(facts);
  unmeasured_ = std::move(unmeasured);
  untagged_ = std::move(untagged);
  return true;
}

void SongFactsWorker::measure_next() {
  std::string path;
  std::int32_t id = 0;
  {
    std::lock_guard hold(lock_);
    for (auto song = unmeasured_.begin(); song != unmeasured_.end();) {
      if (unmeasurable_.count(song->first)) {
        song = unmeasured_.erase(song);
        continue;
      }
      path = song->first;
      id = song->second;
      unmeasured_.erase(song);
      break;
    }
  }
  if (path.empty()) return;
  std::error_code failed;
  const auto size = std::filesystem::file_size(path, failed);
  const auto measure = failed ? std::nullopt : measure_song(path);
  if (!measure) {
    // Its columns stay 0 and it plays unchanged.
    std::printf("Song %d could not be measured; it plays as it is\n", id);
    std::lock_guard hold(lock_);
    unmeasurable_.insert(path);
    return;
  }
  SongFacts facts{gain_to(*measure, REFERENCE_LUFS), static_cast<std::int32_t>(measure->sound_begins_s * 1000),
                  static_cast<std::int32_t>(measure->sound_ends_s * 1000), true};
  char update[256];
  std::snprintf(update, sizeof update,
                "update song set replay_gain = %.2f, sec_count = %d, sm_fade_in = %d, sm_fade_out = %d, "
                "file_size = %lld where song_id = %d",
                facts.replay_gain, static_cast<int>(std::lround(measure->seconds)), facts.fade_in_ms, facts.fade_out_ms,
                static_cast<long long>(std::max<std::uintmax_t>(size, 1)), id);
  const bool stored = Statement(&library_, update).run();
  std::printf("Song %d measured: %.1f LUFS, true peak %.1f dBTP, %.1f s, sound from %.2f s to %.2f s%s\n", id,
              measure->loudness_lufs, measure->true_peak_dbtp, measure->seconds, measure->sound_begins_s,
              measure->sound_ends_s, stored ? "" : " (the library could not store it)");
  std::lock_guard hold(lock_);
  if (auto known = facts_.find(path); known != facts_.end()) {
    facts.fades = known->second.fades;
    facts.artist = known->second.artist;
    facts.title = known->second.title;
    known->second = facts;
  }
  if (!stored) unmeasurable_.insert(path);
}

void SongFactsWorker::tag_next() {
  std::string path;
  std::int32_t id = 0;
  {
    std::lock_guard hold(lock_);
    if (untagged_.empty()) return;
    path = untagged_.begin()->first;
    id = untagged_.begin()->second;
  }
  read_tags(path, id);
}

// A file TagLib cannot read keeps an empty row, so it is read again only once it changes.
void SongFactsWorker::read_tags(const std::string& path, std::int32_t id) {
  const auto stamp = file_stamp(path);
  {
    std::lock_guard hold(lock_);
    untagged_.erase(path);
  }
  if (!stamp) return;  // gone: nothing to read
  const SongTags tags = read_song_tags(path).value_or(SongTags{});
  if (!store_song_tags(library_, id, *stamp, tags)) {
    std::printf("Song %d: its tags could not be stored\n", id);
    return;
  }
  std::printf("Song %d tags: %s\n", id, stream_title(tags.artist, tags.title, "(none)").c_str());
  std::lock_guard hold(lock_);
  if (auto known = facts_.find(path); known != facts_.end()) {
    known->second.artist = tags.artist;
    known->second.title = tags.title;
  }
}

void SongFactsWorker::run() {
  std::unique_lock hold(lock_);
  auto read_at = std::chrono::steady_clock::now();
  while (!stopping_) {
    if (refresh_ || std::chrono::steady_clock::now() >= read_at) {
      refresh_ = false;
      hold.unlock();
      read_library();
      hold.lock();
      read_at = std::chrono::steady_clock::now() + REREAD_INTERVAL;
      continue;
    }
    // Tags first: a new folder is named on the pages long before its songs are all measured.
    if (!unmeasured_.empty() || !untagged_.empty()) {
      const bool tags = !untagged_.empty();
      hold.unlock();
      tags ? tag_next() : measure_next();
      hold.lock();
      continue;
    }
    wake_.wait_until(hold, read_at);
  }
}

}  // namespace zv::player
