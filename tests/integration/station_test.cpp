// The station kit: a folder made by station/setup-station serves the front
// page through the real server and php-cgi.

#include "server_harness.h"

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

}  // namespace
}  // namespace zv::testing
