#include "facts_cache.h"

namespace zv::player {

std::optional<SongFacts> FactsCache::find(const std::string& path, const FileStamp& stamp) {
  const auto found = by_path_.find(path);
  if (found == by_path_.end() || !(found->second->stamp == stamp)) return std::nullopt;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->facts;
}

bool FactsCache::stale(const std::string& path, const FileStamp& stamp) const {
  const auto found = by_path_.find(path);
  return found != by_path_.end() && !(found->second->stamp == stamp);
}

void FactsCache::put(const std::string& path, const FileStamp& stamp, SongFacts facts) {
  if (const auto found = by_path_.find(path); found != by_path_.end()) {
    found->second->stamp = stamp;
    found->second->facts = std::move(facts);
    entries_.splice(entries_.begin(), entries_, found->second);
    return;
  }
  entries_.push_front({path, stamp, std::move(facts)});
  by_path_[path] = entries_.begin();
  if (entries_.size() <= capacity_) return;
  by_path_.erase(entries_.back().path);
  entries_.pop_back();
}

}  // namespace zv::player
