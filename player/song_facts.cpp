#include "song_facts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "library/play_statements.h"
#include "library/statements.h"
#include "platform/thread.h"
#include "song_decoder.h"

namespace zv::player {

namespace {

using Clock = BackgroundWorker::Clock;

// The songs asked for lately whose facts are kept: a few hours of songs due.
constexpr std::size_t CACHED_SONGS = 256;
// The backlog is read from the library a page at a time, when fewer than
// this many songs of it wait.
constexpr std::int64_t PAGE_SONGS = 256;
constexpr std::size_t BACKLOG_LOW = 32;
// Songs imported since the last page are looked for this often; every song's
// file is looked at again (a file written since) this often.
constexpr auto NEW_SONGS_INTERVAL = std::chrono::seconds(60);
constexpr auto FULL_PASS_INTERVAL = std::chrono::hours(1);

unsigned analysers_for(unsigned asked) {
  if (asked > 0) return asked;
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

SongFactsWorker::SongFactsWorker(unsigned analysers) : cache_(CACHED_SONGS) {
  full_pass_at_ = Clock::now() + FULL_PASS_INTERVAL;
  gstreamer_setup();  // its decoding threads at the player's priority, before an analyser lowers itself
  // One analyser for the songs due soon, at the player's own priority; the
  // others for the backlog, behind all other work.
  analysers_.emplace_back([this] { analyse(true); });
  for (unsigned i = 0; i < analysers_for(analysers); ++i) analysers_.emplace_back([this] { analyse(false); });
  worker_.start([this](std::unique_lock<std::mutex>& hold) { return work(hold); });
}

SongFactsWorker::~SongFactsWorker() {
  {
    std::lock_guard hold(worker_.lock());
    ending_ = true;
  }
  analysis_wake_.notify_all();
  for (std::thread& analyser : analysers_) analyser.join();
}

std::optional<SongFacts> SongFactsWorker::facts(const std::string& path) {
  const FileStamp stamp = stamp_of(path);
  {
    std::lock_guard hold(worker_.lock());
    if (auto facts = cache_.find(path, stamp)) return facts;
    std::erase(due_, path);
    due_.insert(due_.begin(), path);
    queue_.first(due_);
    want(path);
  }
  worker_.wake();
  return std::nullopt;
}

void SongFactsWorker::ahead(const std::vector<std::string>& paths) {
  {
    std::lock_guard hold(worker_.lock());
    due_ = paths;
    queue_.first(due_);
    for (const std::string& path : paths) want(path);
  }
  worker_.wake();
}

// Under the lock: `path` is looked up unless it is already on its way.
void SongFactsWorker::want(const std::string& path) {
  if (queue_.holds(path) || std::find(wanted_.begin(), wanted_.end(), path) != wanted_.end()) return;
  if (!due_.empty() && due_.front() == path) {
    wanted_.push_front(path);
  } else {
    wanted_.push_back(path);
  }
}

void SongFactsWorker::analyse(bool due) {
  if (!due) run_in_background();
  std::unique_lock hold(worker_.lock());
  while (!ending_) {
    auto job = queue_.take(due);
    if (!job) {
      analysis_wake_.wait(hold);
      continue;
    }
    hold.unlock();
    const FileStamp stamp = stamp_of(job->path);
    Result result{std::move(*job), stamp, std::nullopt, std::nullopt};
    if (result.stamp.size >= 0) {
      if (result.job.work.tags) result.tags = read_song_tags(result.job.path).value_or(SongTags{});
      if (result.job.work.measure) result.measure = measure_song(result.job.path);
    }
    hold.lock();
    results_.push_back(std::move(result));
    hold.unlock();
    worker_.wake();
    hold.lock();
  }
}

// The song's facts as the library holds them, and the work it needs.
AnalysisJob SongFactsWorker::look_up(const std::string& path, const FileStamp& stamp) {
  AnalysisJob job{path, std::nullopt, {false, true}, {}, true};
  std::int32_t id = 0, fade_in = 0, fade_out = 0, size = 0, ads = 0, jingle = 0;
  double gain = 0;
  Statement song(
      &connection_, SQL_SONG_FACTS_BY_NAME,
      {Column(id), Column(gain), Column(fade_in), Column(fade_out), Column(size), Column(ads), Column(jingle)});
  const bool found = song.run({path}) && song.next();
  if (!found && song.failed()) {
    // Not knowing the song's folder, it is not faded: an advertisement is never cut into.
    job.known.fades = false;
    if (!unreachable_said_)
      std::printf("The library cannot be read for the songs' sound; each is measured before it plays\n");
    unreachable_said_ = true;
    return job;
  }
  unreachable_said_ = false;
  if (!found) return job;  // not in the library: measured, never stored
  job.id = id;
  job.known = {gain, fade_in, fade_out, !(!song.is_null(5) && ads != 0) && !(!song.is_null(6) && jingle != 0)};
  StoredSong stored{id, size};
  std::int32_t tag_size = 0, tag_modified = 0;
  std::vector<char> artist(TEXT_COLUMN_LENGTH + 2), title(TEXT_COLUMN_LENGTH + 2);
  Statement tags(&connection_, SQL_SONG_TAGS_OF,
                 {Column(tag_size), Column(tag_modified), Column(artist.data(), artist.size()),
                  Column(title.data(), title.size())});
  // A library without song_tags (library-setup not run since) is measured without tags.
  tags_kept_ = tags.run({std::int64_t{id}});
  if (tags_kept_ && tags.next()) {
    stored.tagged = std::pair<std::int64_t, std::int64_t>{tag_size, tag_modified};
    job.known.artist = artist.data();
    job.known.title = title.data();
  }
  job.work = work_for(stored, stamp, tags_kept_);
  return job;
}

// Reads the next page of the song table for the backlog. False at its end.
bool SongFactsWorker::read_page() {
  struct Row {
    std::int32_t id;
    std::string path;
    std::int64_t size;
  };
  std::vector<Row> rows;
  std::int32_t id = 0, size = 0;
  std::vector<char> name(TEXT_COLUMN_LENGTH + 2);
  {
    Statement songs(&connection_, SQL_SONGS_AFTER, {Column(id), Column(name.data(), name.size()), Column(size)});
    if (!songs.run({std::int64_t{page_after_}, PAGE_SONGS})) return false;
    while (songs.next()) {
      std::string path = name.data();
      while (!path.empty() && path.back() == ' ') path.pop_back();  // as the hand-off reads names
      rows.push_back({id, std::move(path), size});
    }
    if (songs.failed()) return false;
  }
  if (rows.empty()) return false;
  std::map<std::int32_t, std::pair<std::int64_t, std::int64_t>> tagged;
  std::int32_t tag_size = 0, tag_modified = 0;
  Statement stamps(&connection_, SQL_TAG_STAMPS_BETWEEN, {Column(id), Column(tag_size), Column(tag_modified)});
  tags_kept_ = stamps.run({std::int64_t{page_after_}, std::int64_t{rows.back().id}});
  while (tags_kept_ && stamps.next()) tagged[id] = {tag_size, tag_modified};
  std::vector<AnalysisJob> jobs;
  for (const Row& row : rows) {
    StoredSong stored{row.id, row.size};
    if (const auto found = tagged.find(row.id); found != tagged.end()) stored.tagged = found->second;
    SongWork work = work_for(stored, stamp_of(row.path), tags_kept_);
    jobs.push_back({row.path, row.id, work, {}, false});
  }
  std::lock_guard hold(worker_.lock());
  for (AnalysisJob& job : jobs) {
    if (soundless_.count(*job.id)) job.work.measure = false;
    queue_.add(std::move(job));
  }
  page_after_ = rows.back().id;
  return static_cast<std::int64_t>(rows.size()) == PAGE_SONGS;
}

void SongFactsWorker::store(Result& result) {
  AnalysisJob& job = result.job;
  if (result.tags && job.id) {
    if (store_song_tags(connection_, *job.id, result.stamp, *result.tags)) {
      std::printf("Song %d tags: %s\n", *job.id,
                  stream_title(result.tags->artist, result.tags->title, "(none)").c_str());
    } else {
      // Named on the stream all the same; read again when it is next due.
      std::printf("Song %d: its tags could not be stored\n", *job.id);
    }
    job.known.artist = result.tags->artist;
    job.known.title = result.tags->title;
  }
  if (!job.work.measure || result.stamp.size < 0) return;
  const auto& measure = result.measure;
  if (!measure) {
    // It plays as it is (and fails, holding no sound).
    std::printf("%s could not be measured; it plays as it is\n", job.path.c_str());
    job.known.replay_gain = 0;
    job.known.fade_in_ms = job.known.fade_out_ms = 0;
    std::lock_guard hold(worker_.lock());
    if (job.id) soundless_.insert(*job.id);
    return;
  }
  job.known.replay_gain = gain_to(*measure, REFERENCE_LUFS);
  job.known.fade_in_ms = static_cast<std::int32_t>(measure->sound_begins_s * 1000);
  job.known.fade_out_ms = std::max(1, static_cast<std::int32_t>(measure->sound_ends_s * 1000));
  bool stored = false;
  if (job.id) {
    Statement update(&connection_, SQL_STORE_MEASURE);
    stored = update.run({Value::real(std::round(job.known.replay_gain * 100) / 100), std::llround(measure->seconds),
                         job.known.fade_in_ms, job.known.fade_out_ms, stored_size(result.stamp.size), *job.id});
  }
  std::printf("Song %d measured: %.1f LUFS, true peak %.1f dBTP, %.1f s, sound from %.2f s to %.2f s%s\n",
              job.id.value_or(0), measure->loudness_lufs, measure->true_peak_dbtp, measure->seconds,
              measure->sound_begins_s, measure->sound_ends_s,
              stored   ? ""
              : job.id ? " (the library could not store it)"
                       : " (not in the library)");
}

Clock::time_point SongFactsWorker::work(std::unique_lock<std::mutex>& hold) {
  // What the analysers did, stored before anything else: a song due waits for it.
  while (!results_.empty()) {
    Result result = std::move(results_.front());
    results_.pop_front();
    hold.unlock();
    store(result);
    hold.lock();
    if (result.job.due) cache_.put(result.job.path, result.stamp, result.job.known);
    queue_.done(result.job);
  }
  // The songs due soon, looked up one at a time so a new result is stored between.
  if (!wanted_.empty()) {
    const std::string path = wanted_.front();
    wanted_.pop_front();
    hold.unlock();
    const FileStamp stamp = stamp_of(path);
    hold.lock();
    if (cache_.find(path, stamp)) return Clock::now();
    const bool rewritten = stamp.size >= 0 && cache_.stale(path, stamp);
    hold.unlock();
    AnalysisJob job = look_up(path, stamp);
    hold.lock();
    if (rewritten) job.work = {true, true};
    if (!job.work.measure) cache_.put(path, stamp, job.known);
    queue_.add(std::move(job));
    queue_.first(due_);
    analysis_wake_.notify_all();
    return Clock::now();
  }
  if (queue_.backlog() >= BACKLOG_LOW) return Clock::time_point::max();  // woken by the results
  const auto now = Clock::now();
  if (now < page_at_) return page_at_;
  hold.unlock();
  const bool more = read_page();
  hold.lock();
  analysis_wake_.notify_all();
  if (more) return Clock::now();
  // At the table's end: songs imported meanwhile in a while, and every song again less often.
  page_at_ = now + NEW_SONGS_INTERVAL;
  if (now >= full_pass_at_) {
    page_after_ = 0;
    full_pass_at_ = now + FULL_PASS_INTERVAL;
  }
  return page_at_;
}

}  // namespace zv::player
