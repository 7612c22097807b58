// The playlist and the hand-off to the player through the real server, with
// the real interpreter, a real library and the player-window tool as player.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/library_fixture.h"
#include "support/receiving_window.h"
#include "support/server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

// tools/player-window under the player's caption, its console in a file.
class PlayerWindowTool {
 public:
  explicit PlayerWindowTool(const fs::path& output) : output_(output) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::execl(ZV_BINARY_DIR "/tools/player-window", "player-window", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~PlayerWindowTool() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  PlayerWindowTool(const PlayerWindowTool&) = delete;
  PlayerWindowTool& operator=(const PlayerWindowTool&) = delete;

  std::string output() const {
    std::ifstream in(output_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  pid_t pid() const { return pid_; }
  bool wait_until_open() const {
    for (int i = 0; i < 500; ++i) {
      if (output().find("Window \"Zentavio Player\" open\n") != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

 private:
  fs::path output_;
  pid_t pid_ = -1;
};

// A station whose one schedule entry applies at every hour of every day:
// three folders of 100 songs, song ids 1 to 300.
class PlaylistThroughServer : public ::testing::Test {
 protected:
  void SetUp() override {
    station_.link_php_cgi();
    ASSERT_TRUE(test::make_library(station_.server()));
    const std::string setup =
        "insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
        "insert into song_dir (song_dir_id, dir_order, dir_name, dir_color, dir_bgcolor) values "
        "(1, 1, '/music/Pop/', 255, 255), (2, 2, '/music/Rock/', 65280, 16777215), (3, 3, '/music/Jazz/', 0, 0);"
        "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1), (1, 2, 2), (1, 3, 3);"
        "with recursive k(i) as (select 0 union all select i + 1 from k where i < 299) "
        "insert into song (song_id, song_dir_id, song_name) select i + 1, i / 100 + 1, "
        "(case i / 100 when 0 then '/music/Pop/' when 1 then '/music/Rock/' else '/music/Jazz/' end) "
        "|| 'Song ' || (i + 1) || '.mp3' from k;";
    ASSERT_EQ(test::library_sql(station_.server(), setup), "");
    fs::create_directories(station_.www() / "sub");
    const fs::path echo = fs::path(ZV_SOURCE_DIR) / "tests/integration/scripts/echo_input.php";
    fs::copy_file(echo, station_.www() / "playlist.php");
    fs::copy_file(echo, station_.www() / "sub" / "playlist.php");
  }

  std::string get(const std::string& target) {
    const std::string reply = http_exchange("GET " + target + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\n")) << reply;
    EXPECT_TRUE(server_->wait_for_console("\n---> Exit socket_accept_mt\n", 10s, ++requests_)) << server_->console();
    return reply;
  }
  // The test's environment names the windows and the library; with short
  // limits, the server's waits are shortened tenfold.
  void start_server(bool short_limits = false) {
    if (short_limits)
      server_.emplace(station_.server(), short_limits_environment());
    else
      server_.emplace(station_.server());
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }

  test::PrivateWindowFolder windows_;
  Station station_;
  std::optional<ServerProcess> server_;
  int requests_ = 0;
};

TEST_F(PlaylistThroughServer, WithoutAPlayerThePlaylistReachesTheScript) {
  start_server();
  for (const std::string target : {"/playlist.php", "/playlist.php?item0=12&item1=15"}) {
    const std::string reply = get(target);
    EXPECT_EQ(count_of(reply, "&fileid["), 160) << target;
    EXPECT_EQ(count_of(reply, "&dir_color["), 16) << target;
    EXPECT_EQ(count_of(reply, "&dir_bgcolor["), 16) << target;
    EXPECT_NE(reply.find("<<<file[0][]=Song+1&fileid[0][]=1&"), std::string::npos) << reply;
    EXPECT_NE(reply.find("dir_color[0]=%23ff0000&dir_bgcolor[0]=%23FF0000&"), std::string::npos);
    EXPECT_NE(reply.find("dir_color[1]=%2300ff00&dir_bgcolor[1]=%23FFFFFF&"), std::string::npos);
    EXPECT_TRUE(reply.ends_with("&>>>")) << target;
  }
  EXPECT_EQ(count_of(server_->console(), "Error in SQL"), 0) << server_->console();
}

TEST_F(PlaylistThroughServer, WithAPlayerTheSongsAreHandedOffInsteadOfAPlaylist) {
  PlayerWindowTool player(station_.root.path() / "player.txt");
  ASSERT_TRUE(player.wait_until_open()) << player.output();
  start_server();

  const std::string reply = get("/playlist.php?item0=12&item1=15");
  EXPECT_TRUE(reply.ends_with("length 0\n<<<>>>")) << reply;
  const std::string output = player.output();
  std::istringstream lines(output);
  std::string line, sender;
  std::vector<std::string> received;
  while (std::getline(lines, line)) {
    if (!line.starts_with("dwData=")) continue;
    const auto at = line.find(" sender=");
    const auto end = line.find(' ', at + 1);
    if (sender.empty()) sender = line.substr(at, end - at);
    EXPECT_EQ(line.substr(at, end - at), sender) << "every message names the server's console window";
    received.push_back(line.substr(0, at) + line.substr(end));
  }
  EXPECT_NE(sender, " sender=0");
  EXPECT_EQ(received, (std::vector<std::string>{
                          "dwData=1003 cbData=1 text=", "dwData=1001 cbData=46 text=/music/Pop/Song 12.mp3",
                          "dwData=1001 cbData=46 text=/music/Pop/Song 15.mp3", "dwData=1002 cbData=1 text="}))
      << output;

  // Without a query the hand-off does not run: the playlist is built.
  EXPECT_EQ(count_of(get("/playlist.php"), "&fileid["), 160);
  EXPECT_EQ(count_of(player.output(), "dwData="), 4);
}

TEST_F(PlaylistThroughServer, OnlyTheTopLevelPlaylistPageGetsAPlaylist) {
  start_server();
  const std::string reply = get("/sub/playlist.php?item0=12");
  EXPECT_TRUE(reply.ends_with("length 0\n<<<>>>")) << reply;
  EXPECT_EQ(count_of(server_->console(), "SQL query:"), 0) << server_->console();
}

// The station's own page shows the positions and leads to the hand-off.
TEST_F(PlaylistThroughServer, StationPageShowsPositionsAndSendsTheChoice) {
  fs::copy_file(fs::path(ZV_SOURCE_DIR) / "station/www/playlist.php", station_.www() / "playlist.php",
                fs::copy_options::overwrite_existing);
  fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/include", station_.www() / "include", fs::copy_options::recursive);
  start_server();
  std::string page = get("/playlist.php");
  EXPECT_EQ(count_of(page, "<div class=\"position\""), 16) << page;
  EXPECT_NE(page.find("id=\"position0\" style=\"color: #ff0000; background: #FF0000;\""), std::string::npos) << page;
  EXPECT_NE(page.find("<input type=\"checkbox\" name=\"song[]\" value=\"1\"> <span class=\"song\" title=\"Song "
                      "1\">Song 1</span></label>"),
            std::string::npos);

  EXPECT_NE(page.find("action=\"send.php\""), std::string::npos) << "the pick step is not a hand-off";

  // The send forwards to its outcome, so that a reload sends nothing again.
  page = get("/playlist.php?item0=12&item1=15");
  EXPECT_TRUE(forward_target(page).starts_with("send.php?")) << page;
  EXPECT_NE(forward_target(page).find("player=off"), std::string::npos) << page;

  PlayerWindowTool player(station_.root.path() / "player.txt");
  ASSERT_TRUE(player.wait_until_open()) << player.output();
  page = get("/playlist.php?item0=12&item1=15");
  EXPECT_TRUE(forward_target(page).starts_with("send.php?")) << page;
  EXPECT_EQ(forward_target(page).find("player=off"), std::string::npos) << page;
  EXPECT_EQ(count_of(player.output(), "dwData=1001"), 2) << player.output();
}

// Requests that another site caused, and paths that name no script, get the
// 404 text: nothing is imported, nothing reaches the player, and the console
// says why. The station's own pages and local programs are served.
TEST_F(PlaylistThroughServer, OnlyTheStationsOwnPagesDriveTheServer) {
  PlayerWindowTool player(station_.root.path() / "player.txt");
  ASSERT_TRUE(player.wait_until_open()) << player.output();
  const fs::path ads = station_.root.path() / "Ads";
  fs::create_directories(ads);
  std::ofstream(ads / "a.mp3") << "sound";
  start_server();

  const std::string query = "?add_dir=" + ads.string() + "&is_ads=1&item0=12";
  for (const std::string line :
       {"Host: attacker.example:8080", "Sec-Fetch-Site: cross-site", "Sec-Fetch-Site: same-site",
        "Origin: http://127.0.0.1:9000", "Referer: http://attacker.example/ads.html"}) {
    const std::string reply = http_exchange("GET /playlist.php" + query + " HTTP/1.0\r\n" + line + "\r\n\r\n");
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 404 Not Found\n")) << line << "\n" << reply;
  }
  EXPECT_TRUE(http_exchange("GET /nothere.php" + query + " HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 404 Not Found\n"));
  EXPECT_TRUE(server_->wait_for_console("\n---> Refused connection ", 10s, 5)) << server_->console();
  EXPECT_TRUE(server_->wait_for_console("\n---> No script www/nothere.php\n")) << server_->console();
  for (const char* reason : {"the Host line names another server", "the browser says another site sent it",
                             "the Origin line names another site", "the Referer line names another site"}) {
    EXPECT_NE(server_->console().find(reason), std::string::npos) << reason;
  }
  EXPECT_EQ(test::library_sql(station_.server(), "select count(*) from song;"), "300\n");
  EXPECT_EQ(count_of(player.output(), "dwData="), 0) << player.output();

  const std::string own = http_exchange(
      "GET /playlist.php?item0=12 HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n"
      "Sec-Fetch-Site: same-origin\r\nReferer: http://127.0.0.1:8080/send.php\r\n\r\n");
  EXPECT_TRUE(own.starts_with("HTTP/1.0 200 OK\n")) << own;
  EXPECT_TRUE(http_exchange("GET /playlist.php?item0=15 HTTP/1.0\r\n\r\n").starts_with("HTTP/1.0 200 OK\n"));
  EXPECT_EQ(count_of(player.output(), "dwData=1001"), 2) << player.output();
}

// A player that stops answering holds the hand-off for one message only, and
// the next request is served.
TEST_F(PlaylistThroughServer, AHungPlayerGetsNothingAfterItsFirstUnansweredMessage) {
  PlayerWindowTool player(station_.root.path() / "player.txt");
  ASSERT_TRUE(player.wait_until_open()) << player.output();
  start_server(true);
  ASSERT_EQ(::kill(player.pid(), SIGSTOP), 0);

  std::string target = "/playlist.php?item0=1";
  for (int i = 1; i < 10; ++i) target += "&item" + std::to_string(i) + "=" + std::to_string(i + 1);
  const auto start = std::chrono::steady_clock::now();
  get(target);
  const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  RecordProperty("hand_off_ms", static_cast<int>(held.count()));
  EXPECT_EQ(count_of(server_->console(), "\n---> The player did not answer: nothing more is sent to it\n"), 1)
      << server_->console();
  get("/playlist.php");
  ::kill(player.pid(), SIGCONT);
}

}  // namespace
}  // namespace zv::testing
