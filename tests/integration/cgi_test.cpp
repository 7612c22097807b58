// PHP pages through the real server and the real interpreter: what the script
// is given, what reaches the client, and how a child that misbehaves ends.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

const std::string HEADER_200 = "HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n";
const std::string HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";
const std::string END_OF_CONNECTION = "\n---> Exit socket_accept_mt\n";

fs::path script_source(const std::string& name) { return fs::path(ZV_SOURCE_DIR) / "tests/integration/scripts" / name; }

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void install_script(const Station& station, const std::string& name, const std::string& as) {
  station.write_script(as, read_file(script_source(name)));
}

// Well past the 30 s a child may run, short of twice that.
constexpr auto REPLY_TIMEOUT = 45s;

std::string get(const std::string& target) {
  return http_exchange("GET /" + target + " HTTP/1.0\r\n\r\n", REPLY_TIMEOUT);
}

// What the interpreter wrote after its own header block.
std::string body_of(const std::string& reply) {
  const auto end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string{} : reply.substr(end + 4);
}

// A folder whose listing makes a form body of more than 1 MiB, far more than
// a pipe holds. Each name is mostly "&", which the body carries as "%26", so
// few files make a large body; returns the names as the body carries them.
std::set<std::string> fill_folder(const fs::path& folder) {
  fs::create_directories(folder);
  std::set<std::string> encoded;
  for (int i = 0; i < 1500; ++i) {
    const std::string number = std::to_string(i);
    std::ofstream(folder / (number + std::string(240, '&'))) << "x";
    std::string field = number;
    for (int j = 0; j < 240; ++j) field += "%26";
    encoded.insert(field);
  }
  return encoded;
}

// A process that has ended but waits to be reaped by whoever adopted it
// counts as gone.
bool process_exists(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(") ");
  return pid > 0 && close != std::string::npos && text[close + 2] != 'Z';
}

// Waits a little for a process that has just been ended to be gone.
bool process_gone(int pid) {
  for (int i = 0; i < 200 && process_exists(pid); ++i) std::this_thread::sleep_for(10ms);
  return !process_exists(pid);
}

// Every "pid N" the script wrote, in order.
std::vector<int> pids_in(const std::string& reply) {
  std::vector<int> pids;
  for (auto at = reply.find("pid "); at != std::string::npos; at = reply.find("pid ", at + 4))
    pids.push_back(std::stoi(reply.substr(at + 4)));
  return pids;
}

int pid_in(const std::string& reply) {
  const auto pids = pids_in(reply);
  return pids.empty() ? -1 : pids.front();
}

std::string environment_report(const std::vector<std::string>& entries) {
  std::string text;
  for (const auto& entry : entries) text += "env " + entry + "\n";
  return text;
}

TEST(CgiEnvironment, ScriptGetsExactlyTheBlockWithoutQueryAndWithTemp) {
  Station station;
  station.link_php_cgi();
  install_script(station, "report.php", "report.php");
  ServerProcess server(station.server(), std::vector<std::string>{"TEMP=/station/tmp", "PATH=/usr/bin:/bin",
                                                                  "HOME=/root", "SERVER_SECRET=leak"});
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("report.php");
  const std::string base = fs::canonical(station.server()).string();
  ASSERT_EQ(reply.substr(0, HEADER_200.size()), HEADER_200);
  EXPECT_EQ(body_of(reply),
            environment_report({"SCRIPT_FILENAME=" + base + "/www/report.php", "REMOTE_ADDR=127.0.0.1",
                                "ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" + base +
                                    "/base2.mdb;",
                                "TEMP=/station/tmp", "REQUEST_METHOD=POST", "CONTENT_LENGTH=0",
                                "CONTENT_TYPE=application/x-www-form-urlencoded", "REDIRECT_STATUS=200"}) +
                "input 0 d41d8cd98f00b204e9800998ecf8427e\npost []\n");
}

TEST(CgiEnvironment, ScriptInSubFolderWithRawQueryAndTempUnset) {
  Station station;
  station.link_php_cgi();
  install_script(station, "report.php", "sub/page.php");
  ServerProcess server(station.server(), std::vector<std::string>{"PATH=/usr/bin:/bin"});
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("sub/page.php?a=1&b=%41+c");
  const std::string base = fs::canonical(station.server()).string();
  EXPECT_EQ(body_of(reply),
            environment_report({"SCRIPT_FILENAME=" + base + "/www/sub/page.php", "QUERY_STRING=a=1&b=%41+c",
                                "REMOTE_ADDR=127.0.0.1",
                                "ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" + base +
                                    "/base2.mdb;",
                                "TEMP=", "REQUEST_METHOD=POST", "CONTENT_LENGTH=0",
                                "CONTENT_TYPE=application/x-www-form-urlencoded", "REDIRECT_STATUS=200"}) +
                "input 0 d41d8cd98f00b204e9800998ecf8427e\npost []\n");
}

TEST(CgiBody, FormBodyLargerThanThePipeArrivesWholeAndMatchesContentLength) {
  Station station;
  station.link_php_cgi();
  install_script(station, "echo_input.php", "echo_input.php");
  const fs::path folder = station.root.path() / "music";
  const std::set<std::string> names = fill_folder(folder);
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("echo_input.php?dir=" + folder.string());
  const std::string body = body_of(reply);
  const auto open = body.find("\n<<<");
  const auto close = body.rfind(">>>");
  ASSERT_NE(open, std::string::npos) << reply.substr(0, 2000);
  ASSERT_NE(close, std::string::npos);
  const std::string input = body.substr(open + 4, close - open - 4);
  EXPECT_GT(input.size(), 1u << 20);
  EXPECT_EQ(body.substr(0, open), "length " + std::to_string(input.size()));

  // Every field of the listing, each file exactly once.
  std::set<std::string> files;
  int file_fields = 0;
  std::istringstream fields(input);
  for (std::string field; std::getline(fields, field, '&');) {
    if (field.rfind("file[]=", 0) == 0) {
      files.insert(field.substr(7));
      ++file_fields;
    }
  }
  EXPECT_EQ(file_fields, static_cast<int>(names.size()));
  EXPECT_EQ(files, names);
}

TEST(CgiOutput, SeveralMebibytesAndStandardErrorReachTheClientUnchanged) {
  Station station;
  station.link_php_cgi();
  install_script(station, "big_output.php", "big.php");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("big.php");
  std::string block;
  for (int i = 0; i < 256; ++i) block += static_cast<char>(i);
  std::string expected;
  for (int i = 0; i < 16384; ++i) expected += block;

  ASSERT_EQ(reply.substr(0, HEADER_200.size()), HEADER_200);
  EXPECT_NE(reply.find("written to standard error\n"), std::string::npos);
  const std::string body = body_of(reply);
  EXPECT_EQ(body.size(), expected.size());
  EXPECT_TRUE(body == expected);
}

TEST(CgiStart, MissingInterpreterLeavesTheClientWithTheHeaderAndTheEnd) {
  Station station;  // no php/php-cgi.exe
  station.write_script("page.php", "<?php echo 'never';");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  EXPECT_EQ(get("page.php"), HEADER_200);
  EXPECT_TRUE(server.wait_for_console(END_OF_CONNECTION)) << server.console();
  const std::string console = server.console();
  EXPECT_NE(console.find("\nSend 67 bytes\nError CreateProcess\n"), std::string::npos) << console;
}

TEST(CgiPaths, ParentSegmentsGetThe404AndRunNothing) {
  Station station;
  station.link_php_cgi();
  // Where each request would lead if it were run.
  std::ofstream(station.root.path() / "x.php") << read_file(script_source("ran.php"));
  std::ofstream(station.server() / "x.php") << read_file(script_source("ran.php"));
  install_script(station, "ran.php", "..\\x.php");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  EXPECT_EQ(get("../x.php"), HEADER_404);
  EXPECT_EQ(get("a/../../x.php"), HEADER_404);
  EXPECT_EQ(get("..\\x.php"), HEADER_404);
  EXPECT_TRUE(server.wait_for_console(END_OF_CONNECTION, 10s, 3)) << server.console();
  EXPECT_FALSE(fs::exists(station.root.path() / "ran"));
  EXPECT_FALSE(fs::exists(station.server() / "ran"));
  EXPECT_FALSE(fs::exists(station.www() / "ran"));

  // A name that merely starts with dots is an ordinary script.
  install_script(station, "ran.php", "..x.php");
  EXPECT_EQ(get("..x.php").substr(0, HEADER_200.size()), HEADER_200);
  EXPECT_TRUE(fs::exists(station.www() / "ran"));
}

// A script that ended in time leaves nothing running behind it, neither a
// process it opened nor one it sent to the background, nor one that moved to
// a session of its own.
TEST(CgiProcesses, WhatAScriptStartedEndsWithItsConnection) {
  Station station;
  station.link_php_cgi();
  install_script(station, "background.php", "background.php");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("background.php");  // not held open by the processes left behind
  const std::vector<int> pids = pids_in(reply);
  ASSERT_EQ(pids.size(), 3u) << reply;
  EXPECT_TRUE(server.wait_for_console(END_OF_CONNECTION)) << server.console();
  for (const int pid : pids) EXPECT_TRUE(process_gone(pid)) << pid;
}

// The request's last bytes come after the server has taken the request; they
// are still unread when the page is done, and must not cut the page short.
TEST(CgiOutput, APageAsLargeAsTwoMebibytesArrivesWholeAfterARequestInTwoWrites) {
  Station station;
  station.link_php_cgi();
  install_script(station, "two_mib.php", "two_mib.php");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const int fd = connect_to_server();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, "GET /two_mib.php HTTP/1.0\r\n"));
  // Only once the reply has begun: sooner, the rest would count as the request.
  ASSERT_TRUE(server.wait_for_console("\nSend 67 bytes\n")) << server.console();
  send_all(fd, "Accept: */*\r\n\r\n");
  // A slow reader: the page's end is still on its way when the script ends.
  const std::string reply = read_until_closed(fd, REPLY_TIMEOUT, 2ms);
  ::close(fd);
  EXPECT_EQ(body_of(reply).size(), 2u << 20) << reply.size() << " bytes in all";
}

// The two tests below wait out the 30 s a child may run, shortened tenfold.
TEST(CgiDeadline, ScriptRunningForEverIsEndedAfterThirtySeconds) {
  Station station;
  station.link_php_cgi();
  install_script(station, "forever.php", "forever.php");
  ServerProcess server(station.server(), short_limits_environment());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string reply = get("forever.php");  // returns when the server closes
  const int pid = pid_in(reply);
  ASSERT_GT(pid, 0) << reply;
  // Closed by the server at the deadline, not by the client giving up.
  EXPECT_TRUE(server.wait_for_console(END_OF_CONNECTION, 5s)) << server.console();
  EXPECT_FALSE(process_exists(pid));
}

TEST(CgiDeadline, ChildThatNeverReadsItsBodyDoesNotHoldTheServerPastTheDeadline) {
  Station station;
  fs::create_directories(station.root.path() / "php");
  fs::copy_file(script_source("never_reads.sh"), station.root.path() / "php" / "php-cgi.exe");
  station.write_script("page.php", "");
  const fs::path folder = station.root.path() / "music";
  fill_folder(folder);
  ServerProcess server(station.server(), short_limits_environment());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  // The body write and the wait share one deadline: the connection ends at
  // 3 s, well before a second 3 s could have passed.
  const std::string reply = get("page.php?dir=" + folder.string()).substr(0, 200);
  const int pid = pid_in(reply);
  ASSERT_GT(pid, 0) << reply;
  EXPECT_TRUE(server.wait_for_console(END_OF_CONNECTION, 5s)) << server.console().substr(0, 500);
  EXPECT_FALSE(process_exists(pid));
}

}  // namespace
}  // namespace zv::testing
