// What the player writes and reads back: the saved state, the records
// waiting for the library, and the faults it keeps.

#include <gtest/gtest.h>

#include "fault_log.h"
#include "play_counts.h"
#include "player_state.h"

namespace zv::player {
namespace {

QueuedSong song_at(std::string path, std::int64_t key, SongSource source = SongSource::handoff) {
  QueuedSong song;
  song.path = std::move(path);
  song.key = key;
  song.source = source;
  return song;
}

TEST(SavedState, EveryPathAndFieldComesBackAsItWas) {
  SavedState state;
  state.alive = 1765253000;
  state.stopped = true;
  state.next_key = 42;
  state.schedule_hour = 13;
  QueuedSong on_air = song_at("/m/\ttab, \\back\\ and 'quote' \xc3\xa9 \xff", 7, SongSource::schedule);
  on_air.id = 12;
  state.now = SongOnAir{on_air, "p9-1765252990", 1765252990, 61.5, std::nullopt};
  state.queue = {song_at("/m/ leading space", 8), song_at("/m/=equals", 9)};
  state.queue[1].start_at = 12.25;
  state.queue[1].play_key = "p3-1";
  state.queue[1].play_started = 1765250000;
  state.schedule = {song_at("/m/s.mp3", 10, SongSource::schedule)};
  state.faults = {{"f4-1765252000", FaultKind::device, "The sound device usb fails", 1765252000, 0, false},
                  {"f5-1765252100", FaultKind::skipped, "Skipped /m/x", 1765252100, 1765252100, true}};

  const SavedState back = parse_player_state(player_state_text(state));
  EXPECT_EQ(back.alive, state.alive);
  EXPECT_TRUE(back.stopped);
  EXPECT_EQ(back.next_key, 42);
  EXPECT_EQ(back.schedule_hour, 13);
  ASSERT_TRUE(back.now);
  EXPECT_EQ(back.now->song.path, on_air.path);
  EXPECT_EQ(back.now->song.id, 12);
  EXPECT_EQ(back.now->song.source, SongSource::schedule);
  EXPECT_EQ(back.now->play_key, "p9-1765252990");
  EXPECT_EQ(back.now->started, 1765252990);
  EXPECT_DOUBLE_EQ(back.now->position, 61.5);
  ASSERT_EQ(back.queue.size(), 2u);
  EXPECT_EQ(back.queue[0].path, "/m/ leading space");
  EXPECT_EQ(back.queue[1].key, 9);
  EXPECT_DOUBLE_EQ(back.queue[1].start_at, 12.25);
  EXPECT_EQ(back.queue[1].play_key, "p3-1");
  EXPECT_EQ(back.queue[1].play_started, 1765250000);
  ASSERT_EQ(back.schedule.size(), 1u);
  EXPECT_EQ(back.schedule[0].source, SongSource::schedule);
  ASSERT_EQ(back.faults.size(), 2u);
  EXPECT_EQ(back.faults[0].kind, FaultKind::device);
  EXPECT_EQ(back.faults[0].text, "The sound device usb fails");
  EXPECT_EQ(back.faults[0].ended, 0);
  EXPECT_TRUE(back.faults[1].seen);
}

TEST(SavedState, NoPathCanBreakTheFile) {
  SavedState state;
  state.queue = {song_at("/m/a\nqueue\t1\t0\thandoff\t\t\t0\t/injected", 1), song_at("/m/b", 2)};
  state.faults = {{"f1-1", FaultKind::skipped, "Skipped /m/a\nstopped\t1", 1, 1, false}};
  const SavedState back = parse_player_state(player_state_text(state));
  ASSERT_EQ(back.queue.size(), 1u);
  EXPECT_EQ(back.queue[0].path, "/m/b");
  EXPECT_FALSE(back.stopped);
  ASSERT_EQ(back.faults.size(), 1u);
  EXPECT_EQ(back.faults[0].text, "Skipped /m/a stopped 1");
}

TEST(SavedState, DamagedLinesArePassedOver) {
  const SavedState back = parse_player_state(
      "alive\tx\nnext_key\t\nschedule_hour\t99\nnow\tp1\nqueue\t1\tnan\thandoff\t\t\t0\t/m/a\nqueue\t2\n"
      "fault\tf1\tnonsense\t1\t0\t0\ttext\n\xff\xfe\n");
  EXPECT_EQ(back.alive, 0);
  EXPECT_EQ(back.schedule_hour, -1);
  EXPECT_FALSE(back.now);
  ASSERT_EQ(back.queue.size(), 1u);
  EXPECT_EQ(back.queue[0].start_at, 0) << "a position that is no number plays from the start";
  EXPECT_TRUE(back.faults.empty());
}

TEST(PendingRecords, PlaysAndFaultsComeBackApartAndOlderLinesAreRead) {
  const std::deque<Recorded> records = {
      PlayRecord{12, "/m/a\tb.mp3", 200, "p1-100", 100, "scheduled", OUTCOME_SKIPPED, Audience{1, 3, 250}},
      FaultRecord{"f2-150", "device", "The sound device\nusb fails", 150, 0},
      PlayRecord{std::nullopt, "/m/c.mp3", 300, "p3-250", 250, "sent", OUTCOME_PLAYED}};
  const auto back = read_pending(pending_text(records) + "1700000000\t7\t/old/song.mp3\n");
  ASSERT_EQ(back.size(), 4u);
  const auto& play = std::get<PlayRecord>(back[0]);
  EXPECT_EQ(play.song_id, 12);
  EXPECT_EQ(play.path, "/m/a\tb.mp3");
  EXPECT_EQ(play.ended, 200);
  EXPECT_EQ(play.started, 100);
  EXPECT_EQ(play.key, "p1-100");
  EXPECT_EQ(play.source, "scheduled");
  EXPECT_EQ(play.outcome, OUTCOME_SKIPPED);
  ASSERT_TRUE(play.audience);
  EXPECT_EQ(play.audience->at_start, 1);
  EXPECT_EQ(play.audience->peak, 3);
  EXPECT_EQ(play.audience->listener_seconds, 250);
  const auto& fault = std::get<FaultRecord>(back[1]);
  EXPECT_EQ(fault.kind, "device");
  EXPECT_EQ(fault.text, "The sound device usb fails");
  EXPECT_EQ(fault.started, 150);
  EXPECT_FALSE(std::get<PlayRecord>(back[2]).song_id);
  EXPECT_FALSE(std::get<PlayRecord>(back[2]).audience) << "heard while the stream was off";
  const auto& old = std::get<PlayRecord>(back[3]);
  EXPECT_EQ(old.path, "/old/song.mp3");
  EXPECT_EQ(old.song_id, 7);
  EXPECT_TRUE(old.key.empty()) << "only counted";
}

class Faults : public ::testing::Test {
 protected:
  std::vector<Fault> recorded;
  std::int64_t keys = 0;
  FaultLog log{[this](const Fault& fault) { recorded.push_back(fault); }, [this] { return ++keys; }};
};

TEST_F(Faults, OneLastingFaultOfAKindUntilItPasses) {
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(log.open(FaultKind::device, "The sound device usb fails", 100, 100));
  EXPECT_FALSE(log.open(FaultKind::device, "The sound device usb fails", 105, 105));
  EXPECT_TRUE(log.lasts(FaultKind::device));
  log.pass(FaultKind::device, 110);
  EXPECT_TRUE(log.open(FaultKind::device, "The sound device usb fails", 120, 120));
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(console,
            "Fault: The sound device usb fails\nFault passed: The sound device usb fails\n"
            "Fault: The sound device usb fails\n");
  ASSERT_EQ(recorded.size(), 3u);  // opened, passed, opened
  EXPECT_EQ(recorded[1].ended, 110);
  EXPECT_NE(recorded[0].key, recorded[2].key);
}

TEST_F(Faults, ASkippedSongIsAFaultOfItsOwnThatPassesAtOnceAndSeenLeavesTheBanner) {
  ::testing::internal::CaptureStdout();
  log.open(FaultKind::skipped, "Skipped /m/a", 100, 101);
  log.open(FaultKind::skipped, "Skipped /m/a", 102, 102);
  log.open(FaultKind::silent, "The station is silent", 103, 103);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(log.faults().size(), 3u);
  EXPECT_EQ(log.faults()[0].ended, 101);
  EXPECT_FALSE(log.lasts(FaultKind::skipped));
  for (const Fault& fault : std::deque<Fault>(log.faults())) log.seen(fault.key);
  ASSERT_EQ(log.faults().size(), 1u) << "a lasting fault stays, seen or not";
  EXPECT_TRUE(log.faults()[0].seen);
  ::testing::internal::CaptureStdout();
  log.pass(FaultKind::silent, 110);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(log.faults().empty()) << "seen and passed";
}

}  // namespace
}  // namespace zv::player
