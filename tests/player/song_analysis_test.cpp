// Which songs are read and measured next, and the bounded memory of songs'
// facts, without a library, a file or a thread.

#include <gtest/gtest.h>

#include "analysis_queue.h"
#include "facts_cache.h"

namespace zv::player {
namespace {

FileStamp file(std::int64_t size, std::int64_t modified_s) { return {size, modified_s * 1'000'000'000}; }

AnalysisJob job(const std::string& path, bool due, SongWork work = {true, true}) { return {path, 1, work, {}, due}; }

std::vector<std::string> taken(AnalysisQueue& queue, bool due_only) {
  std::vector<std::string> paths;
  while (auto next = queue.take(due_only)) paths.push_back(next->path);
  return paths;
}

TEST(SongWork, AFileWrittenSinceItsTagsIsReadAndMeasuredAgain) {
  const StoredSong measured{1, 1000, std::pair<std::int64_t, std::int64_t>{1000, file(1000, 50).modified_s()}};
  EXPECT_FALSE(work_for(measured, file(1000, 50), true).any());
  const SongWork same_size = work_for(measured, file(1000, 51), true);
  EXPECT_TRUE(same_size.tags && same_size.measure) << "written again at the same size";
  EXPECT_TRUE(work_for(measured, file(2000, 50), true).measure);
  EXPECT_FALSE(work_for(measured, file(-1, 0), true).any()) << "a missing file fails when its turn comes";

  const StoredSong untagged{1, 1000};
  const SongWork tags_only = work_for(untagged, file(1000, 50), true);
  EXPECT_TRUE(tags_only.tags && !tags_only.measure) << "its measures hold by its size";
  EXPECT_FALSE(work_for(untagged, file(1000, 50), false).any()) << "a library without song_tags";
  EXPECT_TRUE(work_for(StoredSong{1, 0}, file(0, 50), false).measure) << "an empty file not measured yet";
  EXPECT_FALSE(work_for(StoredSong{1, 1}, file(0, 50), false).measure) << "measured: file_size holds at least 1";
}

TEST(AnalysisQueue, SongsDueGoFirstInTheOrderTheyPlay) {
  AnalysisQueue queue;
  queue.add(job("old1", false));
  queue.add(job("b", true));
  queue.add(job("a", true));
  queue.add(job("old2", false));
  queue.add(job("idle", false, {}));
  queue.first({"a", "b"});
  EXPECT_EQ(taken(queue, true), (std::vector<std::string>{"a", "b"})) << "the due analyser takes no backlog";
  EXPECT_EQ(taken(queue, false), (std::vector<std::string>{"old1", "old2"})) << "no work, no job";
}

TEST(AnalysisQueue, ASongIsAnalysedOnceAndMovesUpWhenDue) {
  AnalysisQueue queue;
  queue.add(job("x", false));
  queue.add(job("x", false));
  queue.add(job("y", false));
  EXPECT_FALSE(queue.holds("x")) << "waiting in the backlog only";
  queue.add(job("x", true));
  EXPECT_TRUE(queue.holds("x"));
  EXPECT_EQ(queue.backlog(), 1u);
  const auto first = queue.take(true);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->due);
  queue.add(job("x", true));
  EXPECT_FALSE(queue.has_due()) << "in progress: not taken twice";
  queue.done(*first);
  queue.add(job("x", true));
  EXPECT_TRUE(queue.has_due());

  // A backlog analyser runs behind everything and may be starved: a song due
  // meanwhile is measured again at the player's own priority.
  const auto behind = queue.take(false);
  ASSERT_TRUE(behind && behind->path == "y");
  queue.add(job("y", false));
  EXPECT_EQ(queue.backlog(), 0u) << "in progress in the backlog: not taken twice";
  queue.add(job("y", true));
  EXPECT_TRUE(queue.holds("y"));
}

TEST(FactsCache, HoldsTheSongsAskedForLatelyForTheFileAsItIs) {
  FactsCache cache(2);
  cache.put("a", file(1, 1), SongFacts{1.5});
  cache.put("b", file(1, 1), SongFacts{2.5});
  EXPECT_EQ(cache.find("a", file(1, 1)).value_or(SongFacts{}).replay_gain, 1.5);
  EXPECT_FALSE(cache.find("a", file(1, 2))) << "the file was written since";
  EXPECT_TRUE(cache.stale("a", file(1, 2)));
  EXPECT_FALSE(cache.stale("a", file(1, 1)));
  EXPECT_FALSE(cache.stale("z", file(1, 1))) << "a song never asked for is the library's to judge";
  cache.put("c", file(1, 1), SongFacts{});
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_FALSE(cache.find("b", file(1, 1))) << "asked for longest ago, gone first";
  EXPECT_TRUE(cache.find("a", file(1, 1)));
  cache.put("a", file(1, 3), SongFacts{4});
  EXPECT_EQ(cache.find("a", file(1, 3)).value_or(SongFacts{}).replay_gain, 4);
  EXPECT_EQ(cache.size(), 2u);
}

}  // namespace
}  // namespace zv::player
