// The listeners of the station's mounts as Icecast's status gives them, and
// who heard each play from the readings taken while it played.

#include "listener_count.h"

#include <gtest/gtest.h>

namespace zv::player {
namespace {

TEST(ListenerCount, TheStationsMountsAreCountedFromTheStatus) {
  // One source is an object, several an array; a title may hold JSON's own characters.
  const std::string one = R"({"icestats":{"admin":"a","source":{"listeners":3,"listenurl":"http://h:8000/stream.mp3",)"
                          R"("title":"A {b} [c] \"d\", e"}}})";
  EXPECT_EQ(mount_listeners(one, {"/stream.mp3"}), 3);
  const std::string several = R"({"icestats":{"source":[{"listeners":2,"listenurl":"http://h:8000/stream.mp3"},)"
                              R"({"listeners":5,"listenurl":"http://h:8000/stream.opus"},)"
                              R"({"listeners":7,"listenurl":"http://h:8000/other.mp3"}]}})";
  EXPECT_EQ(mount_listeners(several, {"/stream.mp3", "/stream.opus"}), 7);
  EXPECT_EQ(mount_listeners(R"({"icestats":{"admin":"a"}})", {"/stream.mp3"}), 0) << "no source: nobody listens";
  EXPECT_EQ(mount_listeners("<html>Not found</html>", {"/stream.mp3"}), std::nullopt);
  EXPECT_EQ(mount_listeners(R"({"icestats":{"source":{"listeners":3)", {"/stream.mp3"}), std::nullopt) << "cut short";
}

TEST(ListenerCount, APlaysAudienceFollowsTheReadingsWhileItPlayed) {
  // 2 listeners from before the play; at 100.5 (its start reading) 3; at 110 5; at 130 1.
  const std::deque<ListenerSample> samples{{90, 2}, {100.5, 3}, {110, 5}, {130, 1}};
  const Audience audience = audience_of(samples, 100, 120);
  EXPECT_EQ(audience.at_start, 3) << "the reading at its start";
  EXPECT_EQ(audience.peak, 5);
  EXPECT_EQ(audience.listener_seconds, 80);  // 0.5 s of 2, 9.5 s of 3, 10 s of 5: 79.5
  const Audience later = audience_of(samples, 200, 210);
  EXPECT_EQ(later.at_start, 1) << "the last reading holds until the next";
  EXPECT_EQ(later.listener_seconds, 10);
  EXPECT_EQ(audience_of({}, 100, 120).peak, 0);
}

}  // namespace
}  // namespace zv::player
