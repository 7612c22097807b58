#include "song_facts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "library/play_statements.h"
#include "library/statements.h"
#include "loudness_analysis.h"
#include "platform/file_access.h"
#include "play_queue.h"
#include "song_tags.h"
#include "tab_fields.h"

namespace zv::player {

namespace {

// Songs imported since are found this often, and at once when one is due.
constexpr auto REREAD_INTERVAL = std::chrono::seconds(60);

using Clock = BackgroundWorker::Clock;

// file_size holds at least 1 for a song measured.
std::int64_t stored_size(std::int64_t size) { return std::max<std::int64_t>(size, 1); }

}  // namespace

SongFactsWorker::SongFactsWorker(std::filesystem::path stamps_file) : stamps_file_(std::move(stamps_file)) {
  read_stamps();
  worker_.start([this](std::unique_lock<std::mutex>& hold) { return work(hold); });
}

// One "<size>\t<modified>\t<path>" a line, appended at each measure; the last
// line of a path holds. Written anew, once, when it holds many old lines.
void SongFactsWorker::read_stamps() {
  std::ifstream in(stamps_file_, std::ios::binary);
  std::size_t lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    const auto part = tab_fields(line, 3);
    if (part.empty() || !acceptable_path(part[2])) continue;
    stamps_[part[2]] = {integer_field(part[0]), integer_field(part[1])};
  }
  if (lines <= 2 * stamps_.size() + 100) return;
  std::ostringstream text;
  for (const auto& [path, stamp] : stamps_) text << stamp.size << '\t' << stamp.modified << '\t' << path << '\n';
  write_file_whole(stamps_file_, text.str());
}

void SongFactsWorker::keep_stamp(const std::string& path, const FileStamp& stamp) {
  if (!acceptable_path(path)) return;
  stamps_[path] = stamp;
  // A stamp lost to a crash only means the size alone is compared.
  std::ofstream(stamps_file_, std::ios::binary | std::ios::app)
      << stamp.size << '\t' << stamp.modified << '\t' << path << '\n';
}

bool SongFactsWorker::fades(const std::string& path) const {
  // Not knowing the song's folder, it is not faded: an advertisement is never
  // cut into.
  if (!library_read_) return false;
  const auto found = library_.find(path);
  return found == library_.end() || found->second.facts.fades;
}

std::optional<SongFacts> SongFactsWorker::known(const std::string& path, const FileStamp& stamp) const {
  if (const auto measured = measured_.find(path); measured != measured_.end()) {
    if (!(measured->second.stamp == stamp)) return std::nullopt;
    SongFacts facts = measured->second.facts.value_or(SongFacts{});
    facts.fades = fades(path);
    if (const auto song = library_.find(path); song != library_.end()) {
      facts.artist = song->second.facts.artist;
      facts.title = song->second.facts.title;
    }
    return facts;
  }
  if (!library_read_) return std::nullopt;
  const auto found = library_.find(path);
  if (found == library_.end() || found->second.size == 0 || found->second.size != stored_size(stamp.size)) {
    return std::nullopt;
  }
  if (const auto kept = stamps_.find(path); kept != stamps_.end() && !(kept->second == stamp)) return std::nullopt;
  return found->second.facts;
}

std::optional<SongFacts> SongFactsWorker::facts(const std::string& path) {
  const FileStamp stamp = stamp_of(path);
  {
    std::lock_guard hold(worker_.lock());
    if (auto facts = known(path, stamp)) return facts;
    if (path != measuring_ && (wanted_.empty() || wanted_.front() != path)) {
      // Songs imported since the library was read are looked for first.
      if (library_read_ && !library_.count(path)) refresh_ = true;
      std::erase(wanted_, path);
      wanted_.push_front(path);
    }
  }
  worker_.wake();
  return std::nullopt;
}

void SongFactsWorker::ahead(const std::vector<std::string>& paths) {
  {
    std::lock_guard hold(worker_.lock());
    std::deque<std::string> wanted(paths.begin(), paths.end());
    for (const std::string& path : wanted_) {
      if (std::find(paths.begin(), paths.end(), path) == paths.end()) wanted.push_back(path);
    }
    wanted_ = std::move(wanted);
  }
  worker_.wake();
}

bool SongFactsWorker::read_library() {
  struct Tagged {
    std::int64_t size = 0, modified_s = 0;
    std::string artist, title;
  };
  std::map<std::int32_t, Tagged> tagged;
  bool tags_kept = false;
  {
    std::int32_t tag_id = 0, tag_size = 0, tag_modified = 0;
    std::vector<char> artist(TEXT_COLUMN_LENGTH + 2), title(TEXT_COLUMN_LENGTH + 2);
    Statement tags(&connection_, SQL_SONG_TAGS_KEPT,
                   {Column(tag_id), Column(tag_size), Column(tag_modified), Column(artist.data(), artist.size()),
                    Column(title.data(), title.size())});
    // A library without song_tags (library-setup not run since) is measured without tags.
    tags_kept = tags.run();
    while (tags_kept && tags.next()) tagged[tag_id] = {tag_size, tag_modified, artist.data(), title.data()};
  }
  std::int32_t id = 0, fade_in = 0, fade_out = 0, size = 0, ads = 0, jingle = 0;
  double gain = 0;
  std::vector<char> name(TEXT_COLUMN_LENGTH + 2);
  Statement songs(&connection_, SQL_SONG_FACTS,
                  {Column(id), Column(name.data(), name.size()), Column(gain), Column(fade_in), Column(fade_out),
                   Column(size), Column(ads), Column(jingle)});
  if (!songs.run()) return false;
  std::map<std::string, LibrarySong> library;
  std::set<std::string> untagged;
  while (songs.next()) {
    std::string path = songs.is_null(1) ? "" : name.data();
    while (!path.empty() && path.back() == ' ') path.pop_back();  // as the hand-off reads names
    const bool in_ads = !songs.is_null(6) && ads != 0;
    const bool in_jingles = !songs.is_null(7) && jingle != 0;
    LibrarySong& song = library[path] = {id, {gain, fade_in, fade_out, !in_ads && !in_jingles}, size};
    if (!tags_kept) continue;
    const auto known = tagged.find(id);
    if (known == tagged.end()) {
      untagged.insert(path);
      continue;
    }
    song.facts.artist = known->second.artist;
    song.facts.title = known->second.title;
    song.tagged_size = known->second.size;
    song.tagged_modified_s = known->second.modified_s;
    const FileStamp stamp = stamp_of(path);
    if (stamp.size >= 0 && (stamp.size != song.tagged_size || stamp.modified_s() != song.tagged_modified_s)) {
      untagged.insert(path);
    }
  }
  if (songs.failed()) return false;
  std::lock_guard hold(worker_.lock());
  library_ = std::move(library);
  untagged_ = std::move(untagged);
  tags_kept_ = tags_kept;
  library_read_ = true;
  return true;
}

void SongFactsWorker::measure(const std::string& path) {
  const FileStamp stamp = stamp_of(path);
  std::optional<std::int32_t> id;
  {
    std::lock_guard hold(worker_.lock());
    if (known(path, stamp)) return;
    if (stamp.size < 0) {
      measured_[path] = {stamp, std::nullopt};  // missing: it fails when its turn comes
      return;
    }
    if (const auto found = library_.find(path); found != library_.end()) id = found->second.id;
  }
  const auto measure = measure_song(path);
  if (!measure) {
    // It plays as it is (and fails, holding no sound).
    std::printf("%s could not be measured; it plays as it is\n", path.c_str());
    std::lock_guard hold(worker_.lock());
    measured_[path] = {stamp, std::nullopt};
    return;
  }
  SongFacts facts{gain_to(*measure, REFERENCE_LUFS), static_cast<std::int32_t>(measure->sound_begins_s * 1000),
                  std::max(1, static_cast<std::int32_t>(measure->sound_ends_s * 1000)), true};
  bool stored = false;
  if (id) {
    Statement store(&connection_, SQL_STORE_MEASURE);
    stored = store.run({Value::real(std::round(facts.replay_gain * 100) / 100), std::llround(measure->seconds),
                        facts.fade_in_ms, facts.fade_out_ms, stored_size(stamp.size), *id});
  }
  std::printf("Song %d measured: %.1f LUFS, true peak %.1f dBTP, %.1f s, sound from %.2f s to %.2f s%s\n",
              id.value_or(0), measure->loudness_lufs, measure->true_peak_dbtp, measure->seconds,
              measure->sound_begins_s, measure->sound_ends_s,
              stored ? ""
              : id   ? " (the library could not store it)"
                     : " (not in the library)");
  std::lock_guard hold(worker_.lock());
  measured_[path] = {stamp, facts};
  if (stored) keep_stamp(path, stamp);
  if (auto known = library_.find(path); known != library_.end() && stored) {
    known->second.facts.replay_gain = facts.replay_gain;
    known->second.facts.fade_in_ms = facts.fade_in_ms;
    known->second.facts.fade_out_ms = facts.fade_out_ms;
    known->second.size = stored_size(stamp.size);
  }
}

bool SongFactsWorker::tags_due(const std::string& path, const FileStamp& stamp) const {
  const auto song = library_.find(path);
  if (!tags_kept_ || song == library_.end() || stamp.size < 0) return false;
  return stamp.size != song->second.tagged_size || stamp.modified_s() != song->second.tagged_modified_s;
}

// A file whose tags cannot be read keeps an empty row, so it is read again
// only once it changes.
void SongFactsWorker::read_tags(const std::string& path) {
  const FileStamp stamp = stamp_of(path);
  std::int32_t id = 0;
  {
    std::lock_guard hold(worker_.lock());
    untagged_.erase(path);
    if (!tags_due(path, stamp)) return;
    id = library_.at(path).id;
  }
  const SongTags tags = read_song_tags(path).value_or(SongTags{});
  if (store_song_tags(connection_, id, stamp, tags)) {
    std::printf("Song %d tags: %s\n", id, stream_title(tags.artist, tags.title, "(none)").c_str());
  } else {
    // Named on the stream all the same; stored when the library is read again.
    std::printf("Song %d: its tags could not be stored\n", id);
  }
  std::lock_guard hold(worker_.lock());
  if (auto song = library_.find(path); song != library_.end()) {
    song->second.facts.artist = tags.artist;
    song->second.facts.title = tags.title;
    song->second.tagged_size = stamp.size;
    song->second.tagged_modified_s = stamp.modified_s();
  }
}

Clock::time_point SongFactsWorker::work(std::unique_lock<std::mutex>& hold) {
  if (refresh_ || Clock::now() >= read_at_) {
    refresh_ = false;
    hold.unlock();
    const bool read = read_library();
    hold.lock();
    if (!read && !library_tried_)
      std::printf("The library cannot be read for the songs' sound; each is measured before it plays\n");
    library_tried_ = true;
    read_at_ = Clock::now() + REREAD_INTERVAL;
    return Clock::now();
  }
  // Until the library was tried once, what it holds is not measured again.
  if (!library_tried_) return read_at_;
  std::string path;
  if (!wanted_.empty()) {
    path = wanted_.front();
    wanted_.pop_front();
  } else if (!untagged_.empty()) {
    // Tags before measures: a new folder's songs are named on the pages long
    // before they are all measured.
    path = *untagged_.begin();
    hold.unlock();
    read_tags(path);
    hold.lock();
    return Clock::now();
  } else {
    // Then, one after another, every song of the library not yet measured.
    for (const auto& [song_path, song] : library_) {
      if (song.size == 0 && !measured_.count(song_path)) {
        path = song_path;
        break;
      }
    }
  }
  if (path.empty()) return read_at_;
  measuring_ = path;
  hold.unlock();
  read_tags(path);
  measure(path);
  hold.lock();
  measuring_.clear();
  return Clock::now();
}

}  // namespace zv::player
