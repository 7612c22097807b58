// The serving core over real loopback sockets against the real binary: reply
// headers, the timing rules of the receive loop, one connection at a time,
// the second instance, clients that go away, and hostile input.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zv::testing {
namespace {

const std::string HEADER_200 = "HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n";
const std::string HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";

// Fails unless every text occurs in `console`, each after the one before.
::testing::AssertionResult in_order(const std::string& console, const std::vector<std::string>& texts) {
  std::size_t at = 0;
  for (const std::string& text : texts) {
    const std::size_t found = console.find(text, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "missing, or out of order: \"" << text << "\"\nconsole:\n" << console;
    }
    at = found + text.size();
  }
  return ::testing::AssertionSuccess();
}

// The socket numbers of the connections, in the order they were accepted.
std::vector<std::string> accepted_sockets(const std::string& console) {
  std::vector<std::string> numbers;
  const std::string marker = "\n---> New socket: ";
  for (auto at = console.find(marker); at != std::string::npos; at = console.find(marker, at + 1)) {
    const auto begin = at + marker.size();
    numbers.push_back(console.substr(begin, console.find('\n', begin) - begin));
  }
  return numbers;
}

// Folders "0" to "23" under `root`, each holding two links, "a" and "b", to
// the next: no link leads back up, yet a walk through them has 2^24 paths.
void make_link_maze(const std::filesystem::path& root) {
  constexpr int DEPTH = 24;
  for (int i = 0; i < DEPTH; ++i) {
    const auto folder = root / std::to_string(i);
    std::filesystem::create_directories(folder);
    if (i + 1 < DEPTH) {
      std::filesystem::create_directory_symlink(root / std::to_string(i + 1), folder / "a");
      std::filesystem::create_directory_symlink(root / std::to_string(i + 1), folder / "b");
    }
  }
}

bool still_running(ServerProcess& server) { return !server.wait_exit(std::chrono::milliseconds(0)).has_value(); }

// A server whose working folder holds a few scripts but no interpreter
// beside it: requests for them get their header and "Error CreateProcess".
class ServerCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* script : {"test.php", "sub/test.php", "quick.php", "big.php", "after.php"}) {
      std::filesystem::create_directories((dir_.path() / "www" / script).parent_path());
      std::ofstream(dir_.path() / "www" / script) << "";
    }
    ASSERT_TRUE(server_.wait_until_listening()) << server_.console();
  }

  // Sends `request`, reads the reply, and waits until the server has finished
  // the connection (the `served`th one).
  std::string exchange(const std::string& request) {
    const std::string reply = http_exchange(request, 30s);
    ++served_;
    EXPECT_TRUE(server_.wait_for_console("\n---> Exit socket_accept_mt\n", 10s, served_)) << server_.console();
    return reply;
  }

  TempDir dir_;
  ServerProcess server_{dir_.path()};
  int served_ = 0;
};

TEST_F(ServerCoreTest, PhpPathGetsThe200HeaderAndEveryLineIsNarratedInOrder) {
  const std::string request = "GET /test.php HTTP/1.0\r\n\r\n";
  const std::string reply = exchange(request);
  EXPECT_EQ(reply.size(), 67u);
  EXPECT_EQ(reply, HEADER_200);

  const std::string console = server_.console();
  const std::vector<std::string> sockets = accepted_sockets(console);
  ASSERT_EQ(sockets.size(), 1u) << console;
  const std::string& s = sockets[0];
  EXPECT_TRUE(in_order(console, {"Listening on socket...\n", "Waiting for client to connect...\n", "Client connected.\n",
                                 "\n---> New socket: " + s + "\n", "\n---> Wait for connection " + s + "\n", request,
                                 "\n---> Wait for send response to client " + s + "\n", "\nSend 67 bytes\n",
                                 "Error CreateProcess\n", "\n---> End of connection " + s + "\n",
                                 "\n---> Exit socket_accept_mt\n"}));
  // The listener is back at accept as soon as the thread is started.
  EXPECT_EQ(count_of(console, "Waiting for client to connect...\n"), 2);
  EXPECT_EQ(count_of(console, "Client connected.\n"), 1);
}

TEST_F(ServerCoreTest, EverythingElseGetsThe404Text) {
  for (const std::string request : {"GET /test.PHP HTTP/1.0\r\n\r\n", "GET /.php HTTP/1.0\r\n\r\n", "GET / HTTP/1.0\r\n\r\n",
                                    "POST /test.php HTTP/1.0\r\nContent-Length: 3\r\n\r\na=1", "GET /test.php5 HTTP/1.0\r\n\r\n",
                                    "GGET /test.php HTTP/1.0\r\n\r\n", "GET /../www/test.php HTTP/1.0\r\n\r\n",
                                    "hello\r\n\r\n"}) {
    const std::string reply = exchange(request);
    EXPECT_EQ(reply.size(), 51u) << request;
    EXPECT_EQ(reply, HEADER_404) << request;
  }
  EXPECT_EQ(count_of(server_.console(), "\nSend 51 bytes\n"), served_);
  EXPECT_EQ(count_of(server_.console(), "Error CreateProcess"), 0) << "no child for a 404";
}

TEST_F(ServerCoreTest, HttpVersionsMethodsCaseAndLineEndsAreNotChecked) {
  for (const std::string request : {"get /test.php HTTP/1.1\r\nHost: localhost\r\n\r\n", "GET /test.php\n", "GET /test.php?a=b",
                                    "GET /sub/test.php?x=1 HTTP/1.0\r\n\r\n"}) {
    EXPECT_EQ(exchange(request), HEADER_200) << request;
  }
}

// A browser keeps a spare connection open without asking anything on it: a
// reply there would be read as the answer to its next page.
TEST(ServerCoreSilence, ASilentClientIsClosedWithoutAReplyAfterTheFirstWait) {
  TempDir dir;
  ServerProcess server(dir.path(), short_limits_environment());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const int fd = connect_to_server();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(read_until_closed(fd, 30s), "");
  ::close(fd);
  ASSERT_TRUE(server.wait_for_console(" sent nothing: closed without a reply\n")) << server.console();
  const std::string console = server.console();
  const std::string s = accepted_sockets(console).at(0);
  EXPECT_EQ(count_of(console, "\n---> Connection " + s + " sent nothing: closed without a reply\n"), 1) << console;
  EXPECT_EQ(count_of(console, "\n---> Wait for connection " + s + "\n"), 0) << "it never took the lock";
  EXPECT_EQ(count_of(console, "\nSend "), 0) << console;
}

TEST_F(ServerCoreTest, ARequestInTwoPartsIsHandledFromTheFirstPart) {
  // Read together, the two parts would make a ".php" request; the first part
  // alone is a 404.
  const std::string first = "POST /a HTTP/1.0\r\n";
  const std::string second = "\r\nGET /test.php HTTP/1.0\r\n\r\n";
  const int fd = connect_to_server();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, first));
  std::this_thread::sleep_for(300ms);  // far more than the quiet period
  send_all(fd, second);  // may fail: the server may have closed already
  const std::string reply = read_until_closed(fd, 30s);
  ::close(fd);
  EXPECT_EQ(reply, HEADER_404);
  ASSERT_TRUE(server_.wait_for_console("\n---> Exit socket_accept_mt\n")) << server_.console();
  const std::string console = server_.console();
  EXPECT_TRUE(in_order(console, {"\n---> Wait for connection ", first, "\n---> Wait for send response"}));
  EXPECT_EQ(console.find("GET /test.php"), std::string::npos) << "the second part is never read";
}

TEST_F(ServerCoreTest, AnIdleConnectionHoldsUpNoOtherAndEachIsServedWhole) {
  // The first client holds its connection open before it asks; the second
  // asks at once and is answered while the first is still silent.
  const int idle = connect_to_server();
  ASSERT_GE(idle, 0);
  ASSERT_TRUE(server_.wait_for_console("\n---> New socket: ")) << server_.console();
  const int quick = connect_to_server();
  ASSERT_GE(quick, 0);
  ASSERT_TRUE(send_all(quick, "GET /quick.php HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(read_until_closed(quick, 30s), HEADER_200);
  ::close(quick);
  ASSERT_TRUE(server_.wait_for_console("\n---> Exit socket_accept_mt\n")) << server_.console();
  ASSERT_TRUE(send_all(idle, "GET /slow HTTP/1.0\r\n\r\n")) << "the idle connection is still open";
  EXPECT_EQ(read_until_closed(idle, 30s), HEADER_404);
  ::close(idle);
  ASSERT_TRUE(server_.wait_for_console("\n---> Exit socket_accept_mt\n", 10s, 2)) << server_.console();

  const std::string console = server_.console();
  const std::vector<std::string> sockets = accepted_sockets(console);
  ASSERT_EQ(sockets.size(), 2u);
  // One connection at a time, each from its wait to its exit.
  EXPECT_TRUE(in_order(console, {"\n---> Wait for connection " + sockets[1] + "\n", "GET /quick.php",
                                 "\n---> End of connection " + sockets[1] + "\n", "\n---> Exit socket_accept_mt\n",
                                 "\n---> Wait for connection " + sockets[0] + "\n", "GET /slow",
                                 "\n---> End of connection " + sockets[0] + "\n", "\n---> Exit socket_accept_mt\n"}));
}

TEST_F(ServerCoreTest, ASecondServerReportsThePortInUseAndFails) {
  TempDir other_dir;
  ServerProcess second(other_dir.path());
  EXPECT_EQ(second.wait_exit(10s), 1);
  EXPECT_EQ(second.console(), "Address already in use.\nHello World!\n");
  // The first one is not disturbed.
  EXPECT_EQ(exchange("GET / HTTP/1.0\r\n\r\n"), HEADER_404);
}

TEST_F(ServerCoreTest, ClientsThatGoAwayNeverMakeTheServerSpin) {
  const long ticks_before = server_.cpu_ticks();
  ASSERT_GE(ticks_before, 0);
  auto served_one_more = [&] {
    ++served_;
    return server_.wait_for_console("\n---> Exit socket_accept_mt\n", 15s, served_);
  };

  {  // connects and closes without a word
    const int fd = connect_to_server();
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(served_one_more()) << server_.console();
  }
  {  // half a request, then an orderly close
    const int fd = connect_to_server();
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /test.php HT");
    ::close(fd);
    EXPECT_TRUE(served_one_more()) << server_.console();
  }
  {  // half a request, then a reset
    const int fd = connect_to_server();
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /te");
    const linger abort_on_close{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    ::close(fd);
    EXPECT_TRUE(served_one_more()) << server_.console();
  }
  {  // stops sending but keeps reading: the reply still comes
    const int fd = connect_to_server();
    ASSERT_GE(fd, 0);
    send_all(fd, "GET / HTTP/1.0\r\n\r\n");
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(read_until_closed(fd, 30s), HEADER_404);
    ::close(fd);
    EXPECT_TRUE(served_one_more()) << server_.console();
  }

  std::this_thread::sleep_for(1s);  // a spinning thread would burn all of it
  ASSERT_TRUE(still_running(server_)) << server_.console();
  EXPECT_EQ(exchange("GET / HTTP/1.0\r\n\r\n"), HEADER_404);
  const long ticks_used = server_.cpu_ticks() - ticks_before;
  EXPECT_LT(ticks_used, sysconf(_SC_CLK_TCK) / 2) << "CPU time in clock ticks";
}

// The last read counts as the request, but every read is guarded: a page on
// another site cannot hide a request to the station in the body of its own,
// nor can anything but a GET carry one.
TEST_F(ServerCoreTest, EveryReadOfAConnectionIsGuarded) {
  const std::filesystem::path music = dir_.path() / "Music";
  std::filesystem::create_directories(music);
  std::ofstream(music / "song.mp3") << "sound";
  std::string hidden;
  while (hidden.size() < 400000) hidden += "GET /test.php?add_dir=" + music.string() + " HTTP/1.0\r\n\r\n";
  const std::string cross_site = "POST /test.php HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:9000\r\n"
                                 "Sec-Fetch-Site: cross-site\r\nContent-Type: text/plain\r\n\r\n";
  const std::string local_post = "POST /test.php HTTP/1.0\r\nContent-Type: text/plain\r\n\r\n";
  for (const std::string& head : {cross_site, local_post}) {
    const std::string reply = exchange(head + hidden);
    EXPECT_TRUE(HEADER_404.starts_with(reply)) << reply;
  }
  // Typed or opened from another program: it may read, not change.
  const std::string typed = " HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nSec-Fetch-Site: none\r\n\r\n";
  EXPECT_EQ(exchange("GET /test.php?add_dir=" + music.string() + typed), HEADER_404);
  EXPECT_EQ(exchange("GET /test.php?item0=1" + typed), HEADER_404);
  const std::string console_before_reading = server_.console();
  EXPECT_EQ(exchange("GET /test.php?dir=" + music.string() + typed), HEADER_200);
  ASSERT_TRUE(server_.wait_for_console("\nsong.mp3\n")) << server_.console();

  for (const char* reason : {"the Origin line names another site", "the request does not begin with GET /",
                             "a request from outside the station's pages may not change anything"}) {
    EXPECT_NE(console_before_reading.find(std::string(": ") + reason + "\n"), std::string::npos) << reason;
  }
  EXPECT_EQ(count_of(console_before_reading, "\n---> Refused connection "), 4) << console_before_reading;
  EXPECT_EQ(count_of(console_before_reading, "song.mp3\n"), 0) << "nothing was imported";
  EXPECT_EQ(count_of(console_before_reading, "Error CreateProcess"), 0) << "nothing was run";
}

TEST_F(ServerCoreTest, HostileRequestsNeverStopTheServer) {
  std::vector<std::string> requests = {
      std::string("GET /te\0st.php HTTP/1.0\r\n\r\n", 27),
      std::string("\0\0\0GET / HTTP/1.0\r\n\r\n", 21),
      std::string(1000, '\0'),
      "GET /\xff\xfe\x80.php?dir=\xc3\x28\xa0\xa1 HTTP/1.0\r\n\r\n",
      "GET /x.php?" + std::string(4000, '\x80') + " HTTP/1.0\r\n\r\n",
      "GET /x.php?dir=% HTTP/1.0\r\n\r\n",
      "GET /x.php?x=1&dir=%4 HTTP/1.0\r\n\r\n",
      "GET /x.php?dir=nowhere%",
      "GET /x.php?dir=%ff%fe%c0%af%ed%a0%80 HTTP/1.0\r\n\r\n",
      "GET /x.php?dir=%00%00 HTTP/1.0\r\n\r\n",
      "GET /x.php?" + std::string(20000, '&') + "dir=nowhere" + std::string(20000, '&') + " HTTP/1.0\r\n\r\n",
      "GET /x.php?" + std::string(20000, '&') + "recursive" + " HTTP/1.0\r\n\r\n",
      "GET /" + std::string(60000, 'a') + ".php HTTP/1.0\r\n\r\n",
  };
  for (const std::string& request : requests) {
    const std::string reply = exchange(request);
    EXPECT_TRUE(reply == HEADER_200 || reply == HEADER_404) << "reply of " << reply.size() << " bytes";
    ASSERT_TRUE(still_running(server_)) << server_.console();
  }
}

// What a client still sends after a quick reply is read and thrown away, so
// the reply arrives whole; a client that then keeps the connection open,
// silent, has it closed by the server once the linger time is up.
TEST_F(ServerCoreTest, AfterAQuickReplyWhatTheClientSendsIsDiscardedAndTheConnectionEnds) {
  const auto server_descriptors = [this] {
    const auto folder = std::filesystem::path("/proc") / std::to_string(server_.pid()) / "fd";
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
  };
  const auto before = server_descriptors();
  const int fd = connect_to_server();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, "GET /missing HTTP/1.0\r\n"));
  ASSERT_TRUE(server_.wait_for_console("\nSend 51 bytes\n")) << server_.console();
  ASSERT_TRUE(send_all(fd, "Accept: */*\r\n" + std::string(65536, 'x')));
  EXPECT_EQ(read_until_closed(fd, 10s), HEADER_404);
  bool closed = false;
  for (int i = 0; i < 100 && !closed; ++i) {
    std::this_thread::sleep_for(100ms);
    closed = server_descriptors() == before;
  }
  ::close(fd);
  EXPECT_TRUE(closed) << "the server still holds the connection";
}

TEST_F(ServerCoreTest, RequestsOfTheBufferSizeAndMore) {
  for (const std::size_t size : {131072u, 131073u, 400000u}) {
    std::string request = "GET /big.php?dir=" + std::string(size, 'x');
    request.resize(size);
    // The server may answer and close while the tail is still on its way, so
    // the reply may be cut short by a reset; what matters is that it goes on.
    const std::string reply = exchange(request);
    EXPECT_TRUE(HEADER_200.starts_with(reply) || HEADER_404.starts_with(reply)) << reply.size() << " bytes";
    ASSERT_TRUE(still_running(server_)) << "after " << size << " bytes";
  }
  EXPECT_EQ(exchange("GET /after.php HTTP/1.0\r\n\r\n"), HEADER_200);
}

// An operator who restarts the server right after it served someone gets it
// back at once: the closed connections that linger after a restart do not
// keep the port taken.
TEST(ServerCoreRestart, ARestartedServerListensAgainAtOnce) {
  TempDir dir;
  {
    ServerProcess first(dir.path());
    ASSERT_TRUE(first.wait_until_listening()) << first.console();
    EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n", 30s), HEADER_404);
    ASSERT_TRUE(first.wait_for_console("\n---> Exit socket_accept_mt\n")) << first.console();
  }  // killed
  ServerProcess again(dir.path());
  ASSERT_TRUE(again.wait_until_listening()) << again.console();
  EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n", 30s), HEADER_404);
}

// With the interpreter beside the server, the script's output follows the
// header on the same connection, which then ends.
TEST(ServerCoreWithPhp, ScriptOutputFollowsTheHeader) {
  Station station;
  station.link_php_cgi();
  station.write_script("test.php", "<?php echo 'hello from ' . basename($_SERVER['SCRIPT_FILENAME']);");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string reply = http_exchange("GET /test.php HTTP/1.0\r\n\r\n", 60s);
  ASSERT_GE(reply.size(), 67u) << server.console();
  EXPECT_EQ(reply.substr(0, 67), HEADER_200);
  EXPECT_TRUE(reply.ends_with("hello from test.php")) << reply;
  EXPECT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();
  EXPECT_EQ(count_of(server.console(), "Error CreateProcess"), 0);
}

// Only files whose names end in ".php" run: a NUL in the path must not cut
// the script's name short in front of its ".php".
TEST(ServerCoreWithPhp, ANulInThePathNeverRunsAnotherFile) {
  Station station;
  station.link_php_cgi();
  station.write_script("notes.txt", "<?php echo 'notes ran';");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string reply = http_exchange(std::string("GET /notes.txt\0.php HTTP/1.0\r\n\r\n", 32), 60s);
  EXPECT_EQ(reply.find("notes ran"), std::string::npos) << reply;
  EXPECT_TRUE(reply == HEADER_404 || reply.starts_with(HEADER_200)) << reply;
}

// A connection that waits more than 30 s for the one in front of it is given
// up: it gets no reply and nothing is printed for it, but its socket is
// closed so the client is not left hanging. (Limits shortened tenfold.)
TEST(ServerCoreWithPhp, AConnectionThatWaitsTooLongIsClosedWithoutAWord) {
  Station station;
  station.link_php_cgi();
  station.write_script("slow.php", "<?php sleep(25); echo 'slow done';");
  const std::filesystem::path tree = station.root.path() / "endless";
  make_link_maze(tree);
  ServerProcess server(station.server(), short_limits_environment());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  // The first connection holds the lock for about 6 s: the import's walk
  // until the request's time is up, then the script until its time is up.
  const int first = connect_to_server();
  ASSERT_GE(first, 0);
  ASSERT_TRUE(send_all(first, "GET /slow.php?add_dir=" + tree.string() + " HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(server.wait_for_console("\n---> Wait for connection ")) << server.console();
  const int second = connect_to_server();
  ASSERT_GE(second, 0);
  ASSERT_TRUE(send_all(second, "GET /second HTTP/1.0\r\n\r\n"));

  EXPECT_EQ(read_until_closed(second, 60s), "") << "given up after 3 s, closed without a reply";
  const std::string first_reply = read_until_closed(first, 60s);
  ::close(first);
  ::close(second);
  EXPECT_EQ(first_reply.substr(0, 67), HEADER_200);
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();

  // The lock is free again for the next client.
  EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n", 30s), HEADER_404);
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n", 10s, 2)) << server.console();
  const std::string console = server.console();
  const std::vector<std::string> sockets = accepted_sockets(console);
  ASSERT_EQ(sockets.size(), 3u) << console;
  EXPECT_EQ(count_of(console, "\n---> Wait for connection " + sockets[1] + "\n"), 0) << console;
  EXPECT_EQ(console.find("GET /second"), std::string::npos) << "the dropped request is never read";
  EXPECT_EQ(count_of(console, "\n---> Exit socket_accept_mt\n"), 2);
}

// A recursive listing of a tree without end (a maze of links that never
// loops back) stops at the request's deadline; the script gets what was
// found, and the next request is served.
TEST(ServerCoreWithPhp, AnEndlessListingStopsAtTheDeadline) {
  Station station;
  station.link_php_cgi();
  station.write_script("count.php", "<?php echo (int)($_SERVER['CONTENT_LENGTH'] ?? 0) > 0 ? 'listed' : 'empty';");
  const std::filesystem::path tree = station.root.path() / "endless";
  make_link_maze(tree);
  ServerProcess server(station.server(), short_limits_environment());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string reply = http_exchange("GET /count.php?recursive=1&dir=" + tree.string() + " HTTP/1.0\r\n\r\n", 60s);
  EXPECT_TRUE(reply.ends_with("listed")) << reply.substr(0, 200);
  const std::string console = server.console();
  EXPECT_TRUE(count_of(console, "\n---> The walk stops: the request's time is up\n") +
                  count_of(console, "\n---> The walk stops: the form body has reached its bound\n") ==
              1)
      << console.substr(console.size() > 2000 ? console.size() - 2000 : 0);
  EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n", 30s), HEADER_404);
}

// With its descriptors used up by idle connections, the server waits for one
// to end instead of trying to accept again at once, and serves again after.
TEST(ServerCoreDescriptors, RunningOutOfDescriptorsNeverMakesTheServerSpin) {
  TempDir dir;
  rlimit mine{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &mine), 0);
  rlimit few = mine;
  few.rlim_cur = 32;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
  ServerProcess server(dir.path());  // inherits the limit
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &mine), 0);
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  std::vector<int> idle;
  for (int i = 0; i < 30; ++i) {  // a few more than fit
    const int fd = connect_to_server(300ms);
    if (fd >= 0) idle.push_back(fd);
  }
  const long ticks_before = server.cpu_ticks();
  std::this_thread::sleep_for(2s);  // a spinning accept loop would burn all of it
  const long ticks_used = server.cpu_ticks() - ticks_before;
  EXPECT_LT(ticks_used, sysconf(_SC_CLK_TCK) / 2) << "CPU time in clock ticks, " << idle.size() << " idle connections";
  for (const int fd : idle) ::close(fd);
  EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n", 30s), HEADER_404) << server.console().substr(0, 2000);
}

// Started with standard input closed, the server still listens: the
// listening socket never takes descriptor 0.
TEST(ServerStartUp, ListensWithStandardInputClosed) {
  TempDir dir;
  ServerProcess server(dir.path(), std::nullopt, nullptr, false);
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  EXPECT_EQ(http_exchange("GET /x.php HTTP/1.0\r\n\r\n"), HEADER_404);
  EXPECT_EQ(server.console().find("Socket operation on non-socket"), std::string::npos) << server.console();
}

}  // namespace
}  // namespace zv::testing
