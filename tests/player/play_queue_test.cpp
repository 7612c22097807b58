// The waiting songs and their keys, without an engine, a clock or a file.

#include <gtest/gtest.h>

#include "play_queue.h"

namespace zv::player {
namespace {

std::vector<std::string> paths(const std::deque<QueuedSong>& songs) {
  std::vector<std::string> out;
  for (const QueuedSong& song : songs) out.push_back(song.path);
  return out;
}

QueuedSong scheduled(const std::string& path) {
  QueuedSong song;
  song.path = path;
  song.source = SongSource::schedule;
  return song;
}

// Sent a, b; scheduled s1, s2.
class Queue : public ::testing::Test {
 protected:
  void SetUp() override {
    queue.add_sent("a");
    queue.add_sent("b");
    queue.set_schedule({scheduled("s1"), scheduled("s2")}, 7);
  }
  std::int64_t key_of(const std::string& path) const {
    for (const auto* list : {&queue.sent(), &queue.schedule()}) {
      for (const QueuedSong& song : *list) {
        if (song.path == path) return song.key;
      }
    }
    return 0;
  }
  std::vector<std::string> all() const {
    auto out = paths(queue.sent());
    for (const auto& path : paths(queue.schedule())) out.push_back("sched:" + path);
    return out;
  }
  PlayQueue queue;
};

TEST_F(Queue, SentSongsGoFirstAndPutPlacesSongsNextOrLastInTheirOrder) {
  ASSERT_TRUE(queue.put({"n1", "n2"}, true));
  ASSERT_TRUE(queue.put({"e1"}, false));
  EXPECT_EQ(all(), (std::vector<std::string>{"n1", "n2", "a", "b", "e1", "sched:s1", "sched:s2"}));
  std::vector<std::string> order;
  while (auto song = queue.take_next()) order.push_back(song->path);
  EXPECT_EQ(order, (std::vector<std::string>{"n1", "n2", "a", "b", "e1", "s1", "s2"}));
}

TEST_F(Queue, KeyActionsMoveWithinAndAcrossTheLists) {
  EXPECT_EQ(queue.act(key_of("b"), KeyAction::move_up)->path, "b");
  EXPECT_EQ(all(), (std::vector<std::string>{"b", "a", "sched:s1", "sched:s2"}));
  queue.act(key_of("b"), KeyAction::move_down);
  queue.act(key_of("b"), KeyAction::move_down);  // a scheduled song moved waits among the sent ones
  EXPECT_EQ(all(), (std::vector<std::string>{"a", "s1", "b", "sched:s2"}));
  queue.act(key_of("s2"), KeyAction::move_next);
  EXPECT_EQ(all(), (std::vector<std::string>{"s2", "a", "s1", "b"}));
  queue.act(key_of("a"), KeyAction::remove);
  EXPECT_EQ(all(), (std::vector<std::string>{"s2", "s1", "b"}));
  EXPECT_FALSE(queue.act(12345, KeyAction::remove)) << "a key no song bears changes nothing";
  EXPECT_EQ(all(), (std::vector<std::string>{"s2", "s1", "b"}));
}

TEST_F(Queue, ASongGivenBackWaitsAtTheHeadOfItsList) {
  auto first = queue.take_next();
  queue.give_back(*first);
  EXPECT_EQ(all(), (std::vector<std::string>{"a", "b", "sched:s1", "sched:s2"}));
  queue.act(key_of("a"), KeyAction::remove);
  queue.act(key_of("b"), KeyAction::remove);
  auto s1 = queue.take_next();
  queue.give_back(*s1);
  EXPECT_EQ(all(), (std::vector<std::string>{"sched:s1", "sched:s2"}));
  queue.add_sent("c");
  queue.give_back(scheduled("s0"));  // taken back while a sent song waits: it stays ahead of it
  EXPECT_EQ(all(), (std::vector<std::string>{"s0", "c", "sched:s1", "sched:s2"}));
}

TEST_F(Queue, KeysAreNeverReusedAndTheFallbackRepeatsTheSongsDrawn) {
  PlayQueue restored;
  restored.restore(queue.sent(), queue.schedule(), 7, 1);  // a state whose counter lags its songs
  const std::int64_t highest = std::max(key_of("a"), std::max(key_of("b"), std::max(key_of("s1"), key_of("s2"))));
  EXPECT_GT(restored.new_key(), highest);
  EXPECT_EQ(restored.schedule_hour(), 7);
  while (queue.take_next()) {
  }
  const auto again = queue.take_fallback(), then = queue.take_fallback(), round = queue.take_fallback();
  EXPECT_EQ(again->path, "s1");
  EXPECT_EQ(then->path, "s2");
  EXPECT_EQ(round->path, "s1");
  EXPECT_NE(again->key, round->key);
}

TEST(QueueInput, KeysArePlainDecimalNumbers) {
  EXPECT_EQ(parse_key("93"), 93);
  EXPECT_EQ(parse_key("0"), 0);
  for (const char* refused : {"", "93x", "+92", " 89", "89 ", "-1", "0x10", "1e3", "99999999999999999999"}) {
    EXPECT_FALSE(parse_key(refused)) << '"' << refused << '"';
  }
}

TEST_F(Queue, APathWithALineBreakIsRefusedAndNothingChanges) {
  const auto before = all();
  EXPECT_FALSE(queue.add_sent("x\ny"));
  EXPECT_FALSE(queue.put({"fine", "bad\r"}, true));
  EXPECT_FALSE(queue.add_sent(""));
  EXPECT_EQ(all(), before);
  EXPECT_TRUE(queue.add_sent("tab\there and \xff bytes"));
}

}  // namespace
}  // namespace zv::player
