// The station kit: a folder made by station/setup-station serves the front
// page through the real server and php-cgi.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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
  EXPECT_TRUE(fs::is_directory(station / "server" / "www"));
  EXPECT_EQ(fs::canonical(station / "php" / "php-cgi.exe"), fs::canonical("/usr/bin/php-cgi"));
  // Running it again keeps the station as it is.
  ASSERT_EQ(std::system(command.c_str()), 0);

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
  const std::string setup = "ODBCSYSINI='" + odbc.path().string() + "' '" ZV_SOURCE_DIR "/station/setup-station' station >/dev/null";
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
  for (const char* unit : {"zentavio-server.service", "zentavio-player.service"}) {
    const std::string filled = (units.path() / unit).string();
    const std::string command = std::string("sed -e 's|@USER@|zentavio|g' -e 's|@STATION@|/srv/station|g' "
                                            "-e 's|@REPOSITORY@|/opt/zentavio|g' -e 's|@PLAYER_OPTIONS@||g' '") +
                                ZV_SOURCE_DIR "/station/systemd/" + unit + "' >'" + filled +
                                "' && systemd-analyze security --offline=true --threshold=45 '" + filled +
                                "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << unit;
  }
}

}  // namespace
}  // namespace zv::testing
