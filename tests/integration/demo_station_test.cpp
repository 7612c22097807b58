// The demo station: station/demo-music gives a station made by setup-station
// music folders, imported through the real server, and a schedule that fills
// the coming hour's playlist whatever the time.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;
using test::library_fixture_detail::shell_quote;

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and error
};

CommandResult run_command(const std::string& command) {
  CommandResult result;
  if (std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.output.append(chunk, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return result;
}

CommandResult setup_station(const fs::path& station) {
  return run_command(shell_quote(ZV_SOURCE_DIR "/station/setup-station") + " " + shell_quote(station.string()));
}

CommandResult demo_music(const fs::path& station, const std::string& server = ZV_SERVER_BINARY) {
  return run_command(shell_quote(ZV_SOURCE_DIR "/station/demo-music") + " " + shell_quote(station.string()) + " " +
                     shell_quote(server));
}

std::string first_bytes(const fs::path& file, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// A path as a query value: every byte but letters, digits and "/" escaped.
std::string query_value(const fs::path& path) {
  static const char digits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : path.string()) {
    if (std::isalnum(c) || c == '/') {
      encoded += static_cast<char>(c);
    } else {
      encoded += {'%', digits[c >> 4], digits[c & 15]};
    }
  }
  return encoded;
}

class DemoStation : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_LIBRARY();
    test::use_test_odbc_registration();  // setup-station registers the library there
  }
  TempDir root;
  // An apostrophe and a space: the folder names travel through SQL and URLs.
  const fs::path station = root.path() / "Joe's station";
  const fs::path music = station / "music";
};

TEST_F(DemoStation, ServesAFullPlaylistAndItsMusicFolders) {
  ASSERT_EQ(setup_station(station).status, 0);
  const CommandResult made = demo_music(station);
  ASSERT_EQ(made.status, 0) << made.output;
  EXPECT_EQ(made.output, "demo-music: " + music.string() +
                             " holds 4 folders of 30 songs, imported into the library and scheduled for every hour\n");
  EXPECT_EQ(test::library_sql(station / "server",
                              "select dir_name, is_playlist, is_ads, is_jingle from song_dir order by dir_order"),
            music.string() + "/Pop/|1|0|0\n" + music.string() + "/Rock/|1|0|0\n" + music.string() + "/Ads/|0|1|0\n" +
                music.string() + "/Jingles/|0|0|1\n");
  EXPECT_EQ(first_bytes(music / "Pop" / "Morning Light.wav", 16), std::string("RIFF\x64\x1f\0\0WAVEfmt ", 16));
  EXPECT_EQ(first_bytes(music / "Rock" / "Iron Sky.mp3", 4), "\xff\xfb\x90\xc0");

  ServerProcess server(station / "server");
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string playlist = http_exchange("GET /playlist.php HTTP/1.0\r\n\r\n");
  // Four folders in turn over the 16 positions, each position with songs.
  EXPECT_NE(playlist.find("<h2>Position 16</h2>"), std::string::npos) << playlist;
  EXPECT_EQ(playlist.find("No songs"), std::string::npos) << playlist;
  for (const char* song :
       {"Morning Light", "Station ID", "Thunder Road", "Bakery on Main Street", "Don&#039;t Look Back"})
    EXPECT_NE(playlist.find(std::string("\">") + song + "</span></label>"), std::string::npos) << song;

  const std::string browse = http_exchange("GET /browse.php?dir=" + query_value(music) + " HTTP/1.0\r\n\r\n");
  for (const char* folder : {"Ads/", "Jingles/", "Pop/", "Rock/"})
    EXPECT_NE(browse.find(std::string(">") + folder + "</a>"), std::string::npos) << folder << "\n" << browse;
  EXPECT_EQ(count_of(server.console(), "Error in SQL"), 0) << server.console();
}

// A library with a schedule, or with folders of the station's own, is never
// touched; nor is a station that is not set up.
TEST_F(DemoStation, LeavesAnExistingLibraryAlone) {
  ASSERT_EQ(setup_station(station).status, 0);
  const CommandResult made = demo_music(station);
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string rows = "select (select count(*) from song), (select count(*) from playlist)";
  EXPECT_EQ(test::library_sql(station / "server", rows), "30|4\n");
  const CommandResult again = demo_music(station);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.output, "demo-music: the library of " + station.string() +
                              " already has a schedule or folders of its own; left as it is\n");
  EXPECT_EQ(test::library_sql(station / "server", rows), "30|4\n");

  const fs::path own = root.path() / "own";
  ASSERT_EQ(setup_station(own).status, 0);
  test::library_sql(own / "server", "insert into song_dir (dir_name) values ('/srv/music/Own/')");
  EXPECT_EQ(demo_music(own).status, 0);
  EXPECT_FALSE(fs::exists(own / "music"));
  EXPECT_EQ(test::library_sql(own / "server", "select count(*) from song_dir; select count(*) from playlist_info"),
            "1\n0\n");

  const CommandResult unbuilt = demo_music(own, (root.path() / "missing-server").string());
  EXPECT_EQ(unbuilt.status, 1);
  EXPECT_EQ(unbuilt.output, "demo-music: the server " + (root.path() / "missing-server").string() + " is not built\n");
  const CommandResult bare = demo_music(root.path() / "bare");
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.output.find("run station/setup-station"), std::string::npos) << bare.output;
}

}  // namespace
}  // namespace zv::testing
