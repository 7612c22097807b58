// The music library under Windows: the server reaches it through the ODBC
// driver manager with its fixed connection string. Under Wine the driver
// manager passes the calls to the machine's unixODBC, where scripts/test-windows
// registers the SQLite driver under the Access driver's name and makes an
// empty library to copy (ZV_LIBRARY_TEMPLATE).

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "player_window/protocol.h"
#include "server/connection_handler.h"
#include "support/receiving_window.h"

namespace zv::testing {
namespace {

// A station with a library and a music folder "a.mp3", "b.wav", "notes.txt";
// skips the test where no library can be made.
class WindowsLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* library = std::getenv("ZV_LIBRARY_TEMPLATE");
    if (!library) GTEST_SKIP() << "no library registered for the driver manager (scripts/test-windows makes one)";
    station_.link_php_cgi();
    for (const char* page : {"x.php", "playlist.php"}) station_.write_script(page, "");
    std::filesystem::copy_file(library, station_.server() / "base2.mdb");
    std::filesystem::create_directories(music_);
    for (const char* name : {"a.mp3", "b.wav", "notes.txt"}) std::ofstream(music_ / name) << "x";
    server_.emplace(station_.server());
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }

  // Sends one request and waits until its connection has ended.
  std::string request(const std::string& target) {
    const std::string reply = http_exchange("GET " + target + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(server_->wait_for_console("\n---> Exit socket_accept_mt\n", 10s, ++requests_)) << server_->console();
    return reply;
  }

  Station station_;
  const std::filesystem::path music_ = station_.root.path() / "music";
  std::optional<ServerProcess> server_;
  int requests_ = 0;
};

TEST_F(WindowsLibrary, FolderImportRegistersTheFolderAndItsSongs) {
  const std::string reply = request("/x.php?add_dir=" + music_.string());
  EXPECT_EQ(reply.substr(0, 15), "HTTP/1.0 200 OK") << reply;

  const std::string console = server_->console();
  EXPECT_NE(console.find("Direct ODBC: Successfully connected to database."), std::string::npos) << console;
  EXPECT_EQ(console.find("Error in SQL"), std::string::npos) << console;
  const std::string folder = music_.string() + "\\";
  EXPECT_NE(console.find("insert into song_dir"), std::string::npos) << console;
  EXPECT_NE(console.find("'" + folder + "a.mp3'"), std::string::npos) << console;
  EXPECT_NE(console.find("'" + folder + "b.wav'"), std::string::npos) << console;
  EXPECT_EQ(console.find("notes.txt'"), std::string::npos) << console;
  EXPECT_TRUE(std::filesystem::exists(station_.server() / "out.txt"));
}

// The player is another program's window; the server names itself by its
// console window.
TEST_F(WindowsLibrary, SongsGoToThePlayerWindowAsWindowMessages) {
  request("/x.php?add_dir=" + music_.string());
  test::ReceivingWindow player(PLAYER_WINDOW_CAPTION);
  const WindowHandle console = find_window(CONSOLE_TITLE);
  if (!console)
    GTEST_SKIP() << "no window bears the server's console title (Wine opens no window without a display: "
                    "run under xvfb-run)";

  request("/playlist.php?item0=1&item1=x&item2=2");
  const auto messages = player.messages();
  ASSERT_EQ(messages.size(), 4u) << server_->console();
  EXPECT_EQ(messages[0].dw_data, COPYDATA_LIST_BEGIN);
  EXPECT_EQ(messages[1].dw_data, COPYDATA_LIST_ITEM);
  EXPECT_EQ(messages[1].text(), (music_ / "a.mp3").u16string());
  EXPECT_EQ(messages[1].cb_data, ((music_ / "a.mp3").u16string().size() + 1) * 2);
  EXPECT_EQ(messages[2].text(), (music_ / "b.wav").u16string());
  EXPECT_EQ(messages[3].dw_data, COPYDATA_LIST_END);
  for (const auto& message : messages) EXPECT_EQ(message.sender, console);
}

}  // namespace
}  // namespace zv::testing
