// The station kit: a folder made by station/setup-station serves the front
// page through the real server and php-cgi.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

TEST(StationKit, SetupMakesAStationWhoseFrontPageLinksEveryPage) {
  TempDir odbc;  // the registration goes here, not into the machine's own
  TempDir root;
  const fs::path station = root.path() / "station";
  const std::string command = "ODBCSYSINI='" + odbc.path().string() + "' '" ZV_SOURCE_DIR "/station/setup-station' '" +
                              station.string() + "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(fs::canonical(station / "php" / "php-cgi.exe"), fs::canonical("/usr/bin/php-cgi"));
  // A station made when the pages were one link gets a folder of links: shown
  // read-only to the player's unit, a real folder cannot be renamed or
  // replaced from there (as a bind mount in a mount namespace shows).
  const fs::path www = station / "server" / "www";
  fs::remove_all(www);
  fs::create_directory_symlink(fs::path(ZV_SOURCE_DIR) / "station/www", www);
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(www)));
  EXPECT_TRUE(fs::is_symlink(www / "index.php"));
  const std::string replace = "unshare -m sh -c \"mount --bind -o ro '" + www.string() + "' '" + www.string() +
                              "' || exit 0; mv '" + www.string() + "' '" + www.string() + ".other'\" 2>/dev/null";
  EXPECT_NE(std::system(replace.c_str()), 0);

  ServerProcess server(station / "server");
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string reply = http_exchange("GET /index.php HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n", 0), 0u);
  EXPECT_NE(reply.find("<h1>Demo Station</h1>"), std::string::npos) << reply;
  for (const char* page : {"browse.php", "library.php", "playlist.php", "set_guid.php"}) {
    EXPECT_NE(reply.find(std::string("<a href=\"") + page + "\">"), std::string::npos) << page;
    EXPECT_TRUE(fs::exists(station / "server" / "www" / page)) << page;
  }
  EXPECT_EQ(reply.find("Warning"), std::string::npos) << reply;
}

// After station/systemd/install-units the station user owns server/ and
// log/, and may plant links there; set-up run again as root, as a repair
// does, must never write through them.
TEST(StationKit, SetupAsRootLeavesTheTargetsOfPlantedLinksAlone) {
  if (std::system("test \"$(id -u)\" = 0") != 0) GTEST_SKIP() << "needs root, as set-up as root is the case";
  TempDir odbc;
  TempDir root;
  const auto shell = [&](const std::string& command) {
    return std::system(("set -e; cd '" + root.path().string() + "'; " + command).c_str());
  };
  const std::string setup =
      "ODBCSYSINI='" + odbc.path().string() + "' '" ZV_SOURCE_DIR "/station/setup-station' station >/dev/null";
  ASSERT_EQ(shell(setup), 0);
  ASSERT_EQ(shell("chmod 755 . && chown -R nobody: station/server station/log && "
                  "printf 'root only\\n' >precious && chmod 600 precious && "
                  "rm station/server/php.ini station/server/base2.mdb station/log/php-errors.log && "
                  "for planted in server/php.ini.partial server/php.ini log/php-errors.log; do "
                  "  ln -s \"$PWD/precious\" station/$planted; done"),
            0);

  ASSERT_EQ(shell(setup), 0);
  EXPECT_EQ(shell("test \"$(cat precious)\" = 'root only' && test \"$(stat -c %U:%a precious)\" = root:600"), 0);
  EXPECT_EQ(shell("test ! -L station/server/php.ini && grep -q post_max_size station/server/php.ini"), 0)
      << "php.ini is made anew, not written through";
  // What is made anew is the station user's, and the library private to it.
  EXPECT_EQ(shell("test \"$(stat -c %U:%a station/server/base2.mdb)\" = nobody:600"), 0);
}

// Each service keeps to what the station needs (systemd rates what else it
// could reach; 4.5 or lower is what we hold the units to).
TEST(StationKit, ServicesAreRatedAnExposureOf4_5OrLower) {
  if (std::system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "systemd-analyze is missing";
  TempDir units;
  for (const char* unit : {"zentavio-server.service", "zentavio-player.service", "zentavio-librarian.service"}) {
    const std::string filled = (units.path() / unit).string();
    const std::string command = std::string(
                                    "sed -e 's|@USER@|zentavio|g' -e 's|@STATION@|/srv/station|g' "
                                    "-e 's|@REPOSITORY@|/opt/zentavio|g' -e 's|@PLAYER_OPTIONS@||g' '") +
                                ZV_SOURCE_DIR "/station/systemd/" + unit + "' >'" + filled +
                                "' && systemd-analyze security --offline=true --threshold=45 '" + filled +
                                "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << unit;
  }
}

// The station runs as a user of its own, whose home holds no sound set-up:
// the operator's ~/.asoundrc becomes the station's (read through
// XDG_CONFIG_HOME), once, so later edits there are kept.
TEST(StationKit, SetupGivesTheStationTheOperatorsSoundSetUp) {
  TempDir odbc;
  TempDir root;
  fs::create_directories(root.path() / "home");
  std::ofstream(root.path() / "home" / ".asoundrc") << "pcm.!default { type null }\n";
  const fs::path kept = root.path() / "station" / "config" / "alsa" / "asoundrc";
  const std::string setup = "env -u SUDO_USER HOME='" + (root.path() / "home").string() + "' ODBCSYSINI='" +
                            odbc.path().string() + "' '" ZV_SOURCE_DIR "/station/setup-station' '" +
                            (root.path() / "station").string() + "' >/dev/null";
  ASSERT_EQ(std::system(setup.c_str()), 0);
  std::ofstream(kept, std::ios::app) << "# the operator's edit\n";
  ASSERT_EQ(std::system(setup.c_str()), 0);
  std::ifstream in(kept);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "pcm.!default { type null }\n# the operator's edit\n");
}

// The server and the player meet in a window folder only the station's user
// can make: never one under /tmp, where another user could make it first.
TEST(StationKit, TheWindowFolderOfTheRunScriptAndTheUnitsIsNotUnderTmp) {
  const std::string files =
      "'" ZV_SOURCE_DIR "/scripts/run' '" ZV_SOURCE_DIR "/station/systemd/zentavio-server.service' '" ZV_SOURCE_DIR
      "/station/systemd/zentavio-player.service'";
  EXPECT_EQ(std::system(("test \"$(grep -c 'ZV_WINDOW_DIR=' " + files + " | grep -c ':[1-9]')\" = 3").c_str()), 0)
      << "each names its window folder";
  EXPECT_NE(std::system(("grep -E '(ZV_WINDOW_DIR|^ *windows)=.*/tmp' " + files + " >&2").c_str()), 0);
}

// Icecast's pid file is the station user's to write: a pid of another
// program there is never ended by the set-up run as root.
TEST(StationKit, APidFileNamingAnotherProcessNeverGetsItEnded) {
  TempDir root;
  fs::create_directories(root.path() / "server" / "icecast");
  const pid_t unrelated = ::fork();
  if (unrelated == 0) {
    ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::ofstream(root.path() / "server" / "icecast" / "icecast.pid") << unrelated << "\n";
  EXPECT_EQ(
      std::system(
          ("'" ZV_SOURCE_DIR "/station/demo-icecast' --stop '" + (root.path() / "server").string() + "'").c_str()),
      0);
  EXPECT_EQ(::waitpid(unrelated, nullptr, WNOHANG), 0) << "the unrelated process still runs";
  ::kill(unrelated, SIGKILL);
  ::waitpid(unrelated, nullptr, 0);
}

}  // namespace
}  // namespace zv::testing
