// The music library under Windows: the server reaches it through the ODBC
// driver manager with its fixed connection string. Under Wine the driver
// manager passes the calls to the machine's unixODBC, where scripts/test-windows
// registers the SQLite driver under the Access driver's name and makes an
// empty library to copy (ZV_LIBRARY_TEMPLATE).

#include "server_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace zv::testing {
namespace {

TEST(WindowsLibrary, FolderImportRegistersTheFolderAndItsSongs) {
  const char* library = std::getenv("ZV_LIBRARY_TEMPLATE");
  if (!library) GTEST_SKIP() << "no library registered for the driver manager (scripts/test-windows makes one)";
  Station station;
  station.link_php_cgi();
  std::filesystem::copy_file(library, station.server() / "base2.mdb");
  const auto music = station.root.path() / "music";
  std::filesystem::create_directories(music);
  for (const char* name : {"a.mp3", "b.wav", "notes.txt"}) std::ofstream(music / name) << "x";
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = http_exchange("GET /x.php?add_dir=" + music.string() + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply.substr(0, 15), "HTTP/1.0 200 OK") << reply;
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();

  const std::string console = server.console();
  EXPECT_NE(console.find("Direct ODBC: Successfully connected to database."), std::string::npos) << console;
  EXPECT_EQ(console.find("Error in SQL"), std::string::npos) << console;
  const std::string folder = music.string() + "\\";
  EXPECT_NE(console.find("insert into song_dir"), std::string::npos) << console;
  EXPECT_NE(console.find("'" + folder + "a.mp3'"), std::string::npos) << console;
  EXPECT_NE(console.find("'" + folder + "b.wav'"), std::string::npos) << console;
  EXPECT_EQ(console.find("notes.txt'"), std::string::npos) << console;
  EXPECT_TRUE(std::filesystem::exists(station.server() / "out.txt"));
}

}  // namespace
}  // namespace zv::testing
