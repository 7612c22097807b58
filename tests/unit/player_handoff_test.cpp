// The hand-off of songs to a real player window, looked up in a real library.

#include "playlist/player_handoff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "server/connection_handler.h"
#include "support/library_fixture.h"
#include "support/receiving_window.h"

namespace zv {
namespace {

using test::LibraryFolder;
using test::PrivateWindowFolder;
using test::ReceivedMessage;
using test::ReceivingWindow;

struct HandOff {
  int result = 0;
  std::string console;
};

HandOff hand_off(const char* prefix, const char* query) {
  HandOff outcome;
  ::testing::internal::CaptureStdout();
  outcome.result = hand_off_items(prefix, query);
  std::fflush(stdout);
  outcome.console = ::testing::internal::GetCapturedStdout();
  return outcome;
}

int statements_run(const std::string& console) {
  int count = 0;
  for (auto at = console.find("SQL query:"); at != std::string::npos; at = console.find("SQL query:", at + 1)) ++count;
  return count;
}

// "B" for the begin message, "E" for the end, the path for an item.
std::vector<std::u16string> summary(const std::vector<ReceivedMessage>& messages) {
  std::vector<std::u16string> out;
  for (const ReceivedMessage& message : messages) {
    if (message.dw_data == COPYDATA_LIST_BEGIN) {
      out.push_back(u"B");
    } else if (message.dw_data == COPYDATA_LIST_END) {
      out.push_back(u"E");
    } else {
      out.push_back(message.text());
    }
  }
  return out;
}

class PlayerHandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_LIBRARY();
    ASSERT_TRUE(library_.made());
    ASSERT_EQ(library_.sql("insert into song (song_id, song_name) values "
                           "(3, '/music/three.mp3'), (7, '/music/seven.mp3'), (12, '/music/Pop/twelve.mp3'), "
                           "(15, '/music/Rock/fifteen.mp3'), (20, '/m/abc.mp3'), (21, '/music/Ä ö.mp3'), "
                           "(22, '/music/padded.mp3   '), (500, '/music/five-hundred.mp3')"),
              "");
  }

  PrivateWindowFolder windows_;
  LibraryFolder library_;
};

class WithPlayer : public PlayerHandOffTest {
 protected:
  std::vector<std::u16string> sent() const { return summary(player_.messages()); }

  ReceivingWindow console_{CONSOLE_TITLE};
  ReceivingWindow player_{PLAYER_WINDOW_CAPTION};
};

TEST_F(WithPlayer, BeginItemsEndNamingTheConsoleAsSender) {
  const HandOff outcome = hand_off("item", "item0=12&item1=15");
  EXPECT_EQ(outcome.result, 1);
  const auto messages = player_.messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"B", u"/music/Pop/twelve.mp3", u"/music/Rock/fifteen.mp3", u"E"}));
  for (const ReceivedMessage& message : messages) EXPECT_EQ(message.sender, console_.handle());
  EXPECT_EQ(messages[0].dw_data, 1003u);
  EXPECT_EQ(messages[0].cb_data, 1u);
  EXPECT_FALSE(messages[0].has_data);
  EXPECT_EQ(messages[1].dw_data, 1001u);
  EXPECT_EQ(messages[1].cb_data, 2 * (std::u16string(u"/music/Pop/twelve.mp3").size() + 1));
  EXPECT_EQ(messages[3].dw_data, 1002u);
  EXPECT_EQ(messages[3].cb_data, 1u);
  EXPECT_FALSE(messages[3].has_data);
  EXPECT_TRUE(console_.messages().empty());
  EXPECT_EQ(statements_run(outcome.console), 2);
}

TEST_F(WithPlayer, BeginOnlyWhenTheSongOfItem0WasFound) {
  EXPECT_EQ(hand_off("item", "item1=15").result, 1);
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"/music/Rock/fifteen.mp3", u"E"}));
  EXPECT_EQ(hand_off("item", "item0=999&item1=3").result, 1);
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"/music/Rock/fifteen.mp3", u"E", u"/music/three.mp3", u"E"}));
}

TEST_F(WithPlayer, QueryWithoutItemsSendsOnlyTheEnd) {
  const HandOff outcome = hand_off("item", "dir=/music&x=1");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"E"}));
  EXPECT_EQ(statements_run(outcome.console), 0);
}

TEST_F(WithPlayer, ItemsAreProbedInOrderOfTheirNumbersUpTo499) {
  EXPECT_EQ(hand_off("item", "item7=7&item500=500&item0=3&item499=20").result, 1);
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"B", u"/music/three.mp3", u"/music/seven.mp3", u"/m/abc.mp3", u"E"}));
}

TEST_F(WithPlayer, Item10IsNotTakenForItem1) {
  const HandOff outcome = hand_off("item", "item10=3");
  EXPECT_EQ(sent(), (std::vector<std::u16string>{u"/music/three.mp3", u"E"}));
  EXPECT_EQ(statements_run(outcome.console), 1);
}

TEST_F(WithPlayer, PathTravelsAsUtf16WithItsTerminator) {
  EXPECT_EQ(hand_off("item", "item0=20&item1=21&item2=22").result, 1);
  const auto messages = player_.messages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[1].cb_data, 22u);  // "/m/abc.mp3": 10 characters
  ASSERT_EQ(messages[1].data.size(), 22u);
  EXPECT_EQ(messages[1].data[20], 0);
  EXPECT_EQ(messages[1].data[21], 0);
  EXPECT_EQ(messages[2].text(), u"/music/Ä ö.mp3");
  EXPECT_EQ(messages[2].cb_data, 2 * (std::u16string(u"/music/Ä ö.mp3").size() + 1));
  EXPECT_EQ(messages[3].text(), u"/music/padded.mp3");  // trailing spaces removed
  EXPECT_EQ(messages[3].cb_data, 2 * (std::u16string(u"/music/padded.mp3").size() + 1));
}

TEST_F(WithPlayer, OnlyDecimalSongIdsThatFit32BitsAreLookedUp) {
  for (const char* query : {"item0=1%20or%201=1", "1=1&item0=1;drop table song", "item0=12abc", "item0=0x0C",
                            "item0=2147483648", "item0=-2147483649", "item0=-", "item0=%2012"}) {
    const HandOff outcome = hand_off("item", query);
    EXPECT_EQ(outcome.result, 1) << query;
    EXPECT_EQ(statements_run(outcome.console), 0) << query << outcome.console;
  }
  EXPECT_EQ(sent(), std::vector<std::u16string>(8, u"E"));
  EXPECT_EQ(library_.sql("select count(*) from song"), "8\n");

  // A bad item is passed over; the probing goes on.
  const HandOff outcome = hand_off("item", "item0=drop&item1=15&item2=2147483647&item3=-7");
  EXPECT_EQ(statements_run(outcome.console), 3);
  EXPECT_EQ(summary(player_.messages()).at(8), u"/music/Rock/fifteen.mp3");
}

TEST_F(WithPlayer, NoHandOffWithoutAQueryOrAPrefix) {
  EXPECT_EQ(hand_off("item", nullptr).result, 0);
  EXPECT_EQ(hand_off("", "item0=12").result, 0);
  EXPECT_EQ(hand_off(nullptr, "item0=12").result, 0);
  EXPECT_TRUE(player_.messages().empty());
}

TEST_F(PlayerHandOffTest, NoHandOffWithoutThePlayerOrTheConsoleWindow) {
  {
    ReceivingWindow console(CONSOLE_TITLE);
    const HandOff outcome = hand_off("item", "item0=12");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(statements_run(outcome.console), 0);
  }
  ReceivingWindow player(PLAYER_WINDOW_CAPTION);
  EXPECT_EQ(hand_off("item", "item0=12").result, 0);  // no console window to name as sender
  EXPECT_TRUE(player.messages().empty());
}

TEST_F(PlayerHandOffTest, HungPlayerCannotHoldTheHandOff) {
  ReceivingWindow console(CONSOLE_TITLE);
  ReceivingWindow hung(PLAYER_WINDOW_CAPTION, 1, false);
  // Read once per process: a run of every test in one process may still wait 5 s.
#ifdef _WIN32
  _putenv_s("ZV_TEST_LIMIT_DIVISOR", "10");
#else
  ::setenv("ZV_TEST_LIMIT_DIVISOR", "10", 1);
#endif
  // The begin message waits 5 s at most; after it nothing is looked up or sent.
  const HandOff outcome = hand_off("item", "item0=12&item1=15&item2=3");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(statements_run(outcome.console), 1) << outcome.console;
  EXPECT_NE(outcome.console.find("\n---> The player did not answer: nothing more is sent to it\n"), std::string::npos)
      << outcome.console;
}

}  // namespace
}  // namespace zv
