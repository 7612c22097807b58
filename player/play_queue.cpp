#include "play_queue.h"

#include <algorithm>
#include <charconv>

namespace zv::player {

std::optional<std::int64_t> parse_key(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::int64_t key = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), key);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return key;
}

bool acceptable_path(std::string_view path) {
  return !path.empty() && path.find_first_of("\r\n") == std::string_view::npos;
}

std::vector<std::string> message_paths(const std::string& text) {
  std::vector<std::string> paths;
  std::size_t at = 0;
  while (at <= text.size()) {
    const auto end = std::min(text.find('\n', at), text.size());
    if (end > at) paths.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return paths;
}

namespace {

QueuedSong sent_song(std::string path, std::int64_t key) {
  QueuedSong song;
  song.path = std::move(path);
  song.key = key;
  return song;
}

}  // namespace

bool PlayQueue::add_sent(const std::string& path) { return put({path}, false); }

bool PlayQueue::put(const std::vector<std::string>& paths, bool next) {
  if (!std::all_of(paths.begin(), paths.end(), [](const std::string& path) { return acceptable_path(path); })) {
    return false;
  }
  std::deque<QueuedSong> songs;
  for (const std::string& path : paths) songs.push_back(sent_song(path, new_key()));
  sent_.insert(next ? sent_.begin() : sent_.end(), songs.begin(), songs.end());
  return true;
}

void PlayQueue::give_back(QueuedSong song) {
  (song.source == SongSource::schedule && sent_.empty() ? schedule_ : sent_).push_front(std::move(song));
}

std::optional<QueuedSong> PlayQueue::act(std::int64_t key, KeyAction action) {
  struct Waiting {
    QueuedSong song;
    bool sent;
  };
  std::vector<Waiting> all;
  for (const QueuedSong& song : sent_) all.push_back({song, true});
  for (const QueuedSong& song : schedule_) all.push_back({song, false});
  const auto found = std::find_if(all.begin(), all.end(), [key](const Waiting& w) { return w.song.key == key; });
  if (found == all.end()) return std::nullopt;
  const QueuedSong acted = found->song;
  std::size_t at = static_cast<std::size_t>(found - all.begin());
  if (action == KeyAction::remove) {
    all.erase(found);
  } else if (action == KeyAction::move_up && at > 0) {
    std::swap(all[at], all[at - 1]);
    --at;
  } else if (action == KeyAction::move_down && at + 1 < all.size()) {
    std::swap(all[at], all[at + 1]);
    ++at;
  } else if (action == KeyAction::move_next) {
    std::rotate(all.begin(), found, found + 1);
    at = 0;
  }
  // Sent songs stay sent; a scheduled song the operator moved waits among
  // them, and so does every song now ahead of one of them.
  std::size_t sent = action == KeyAction::remove ? 0 : at + 1;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].sent) sent = std::max(sent, i + 1);
  }
  sent_.clear();
  schedule_.clear();
  for (std::size_t i = 0; i < all.size(); ++i) (i < sent ? sent_ : schedule_).push_back(std::move(all[i].song));
  return acted;
}

void PlayQueue::set_schedule(std::vector<QueuedSong> songs, int hour) {
  schedule_.clear();
  for (auto& song : songs) {
    song.key = new_key();
    schedule_.push_back(std::move(song));
  }
  fallback_ = schedule_;
  schedule_hour_ = hour;
}

std::optional<QueuedSong> PlayQueue::take_next() {
  auto& from = !sent_.empty() ? sent_ : schedule_;
  if (from.empty()) return std::nullopt;
  QueuedSong song = std::move(from.front());
  from.pop_front();
  return song;
}

std::optional<QueuedSong> PlayQueue::take_fallback() {
  if (fallback_.empty()) return std::nullopt;
  QueuedSong song = fallback_.front();
  fallback_.pop_front();
  fallback_.push_back(song);
  song.key = new_key();
  return song;
}

void PlayQueue::restore(std::deque<QueuedSong> sent, std::deque<QueuedSong> schedule, int hour, std::int64_t next_key) {
  // A key a song already bears is never given again, whatever the state said.
  next_key_ = std::max<std::int64_t>(next_key, 1);
  for (const auto* list : {&sent, &schedule}) {
    for (const QueuedSong& song : *list) next_key_ = std::max(next_key_, song.key + 1);
  }
  std::erase_if(sent, [](const QueuedSong& song) { return !acceptable_path(song.path); });
  std::erase_if(schedule, [](const QueuedSong& song) { return !acceptable_path(song.path); });
  sent_ = std::move(sent);
  schedule_ = std::move(schedule);
  schedule_hour_ = schedule_.empty() ? -1 : hour;
}

}  // namespace zv::player
