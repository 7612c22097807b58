// The whole request path: the bytes a client sends, served by the real
// connection handler over a loopback connection, against a fixed folder tree
// and a fresh library. What comes out is checked: the reply header, the
// refusal on the console, and for a script the CGI environment and the
// gathered body, which a stand-in interpreter writes back to the client.

#include "fuzz_checks.h"
#include "library/database.h"
#include "server/connection_handler.h"
#include "support/library_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using zv::fuzz::check;

// The interpreter's stand-in: its environment, a marker, then its input, of
// which it reads CONTENT_LENGTH bytes (the input never ends by itself).
constexpr const char* STAND_IN =
    "#!/bin/sh\nenv -0\nprintf '\\n--body--\\n'\nexec head -c \"${CONTENT_LENGTH:-0}\"\n";
constexpr const char* BODY_MARK = "\n--body--\n";

struct Station {
  fs::path root = zv::test::library_fixture_detail::fresh_temp_folder("zv-fuzz-station-");
  fs::path server = root / "server";
  fs::path library_template = root / "library" / "base2.mdb";
  fs::path console = root / "console.txt";
  int listener = -1;
  sockaddr_in address{};

  Station() {
    std::signal(SIGPIPE, SIG_IGN);
    fs::create_directories(root / "php");
    fs::create_directories(server / "www" / "sub");
    fs::create_directories(root / "windows");
    ::setenv("ZV_WINDOW_DIR", (root / "windows").c_str(), 1);  // no player is ever found
    std::ofstream(root / "php" / "php-cgi.exe") << STAND_IN;
    fs::permissions(root / "php" / "php-cgi.exe", fs::perms::owner_all);
    for (const char* page : {"index.php", "playlist.php", "set_guid.php", "sub/page.php"}) {
      std::ofstream(server / "www" / page) << "<?php\n";
    }
    // A music tree for listings and imports.
    for (const char* file : {"music/a.mp3", "music/b.wav", "music/Rock & Roll/c.mp3", "music/.hidden/d.mp3"}) {
      fs::create_directories((root / file).parent_path());
      std::ofstream(root / file) << "sound";
    }
    if (!zv::test::make_library(library_template.parent_path())) std::abort();
    fs::current_path(server);
    if (!std::freopen(console.c_str(), "w+", stdout)) std::abort();

    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::abort();
  }

  ~Station() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  // A fresh library and an empty console for the next request.
  void reset() {
    std::fflush(stdout);
    for (const char* name : {"base2.mdb", "base2.mdb-wal", "base2.mdb-shm", "out.txt"}) fs::remove(server / name);
    fs::copy_file(library_template, server / "base2.mdb");
    if (::ftruncate(::fileno(stdout), 0) != 0) std::abort();
    std::rewind(stdout);
  }

  std::string console_text() {
    std::fflush(stdout);
    std::ifstream in(console, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

// Serves `request` through the connection handler; the client's reply.
std::string serve(Station& station, const std::string& request) {
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(client, reinterpret_cast<sockaddr*>(&station.address), sizeof station.address) != 0) std::abort();
  const int accepted = ::accept(station.listener, nullptr, nullptr);
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(client, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(client, SHUT_WR);  // all of the request is there
  std::thread handler([accepted] {
    zv::serve_connection({static_cast<zv::SocketHandle>(accepted), std::chrono::steady_clock::now()});
  });
  std::string reply;
  char chunk[65536];
  for (ssize_t n; (n = ::recv(client, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, static_cast<std::size_t>(n));
  handler.join();
  ::close(client);
  zv::db_connect(nullptr, false);  // the next request opens its own library
  return reply;
}

bool has_parent_segment(const std::string& path) {
  const std::string wrapped = "/" + path + "/";
  return wrapped.find("/../") != std::string::npos || wrapped.find("\\..\\") != std::string::npos ||
         wrapped.find("/..\\") != std::string::npos || wrapped.find("\\../") != std::string::npos;
}

// Form fields: names (with [] for lists), =, & and encoded values.
bool is_form_byte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("-_.!~*'()+%=&[]", c) != nullptr;
}

// The stand-in's output: what the script was given.
void check_script_run(const Station& station, const std::string& output) {
  const auto mark = output.find(BODY_MARK);
  check(mark != std::string::npos, "the interpreter ran and wrote back what it was given");
  const std::string environment = output.substr(0, mark);
  const std::string body = output.substr(mark + std::strlen(BODY_MARK));
  std::string script, content_length;
  std::istringstream entries(environment);
  for (std::string entry; std::getline(entries, entry, '\0');) {
    if (entry.rfind("SCRIPT_FILENAME=", 0) == 0) script = entry.substr(16);
    if (entry.rfind("CONTENT_LENGTH=", 0) == 0) content_length = entry.substr(15);
  }
  const std::string www = (station.server / "www").string() + "/";
  check(script.rfind(www, 0) == 0, "the script is under www");
  const std::string relative = script.substr(www.size());
  check(!has_parent_segment(relative), "no script outside www runs");
  check(fs::is_regular_file(script), "only a script that exists runs");
  check(content_length == std::to_string(body.size()), "CONTENT_LENGTH is the gathered body's length");
  for (char c : body) check(is_form_byte(c), "the gathered body is form-encoded");
}

}  // namespace

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libodbc.so\n"
         "leak:libodbcinst.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Station station;
  if (size == 0 || size > 4096) return 0;
  // The first byte may put a request line, a script and a query asking for
  // the music tree in front, so most inputs get past "get /" and a good share
  // reach the gathering and the script.
  static const char* const pages[] = {"", "index.php", "playlist.php", "sub/page.php"};
  const std::uint8_t lead = data[0];
  std::string request;
  if (lead & 1) {
    request = std::string("GET /") + pages[lead >> 1 & 3];
    if (lead & 8) request += "?";
    const std::string music = (station.root / "music").string();
    if (lead & 16) request += "dir=" + music + "&";
    if (lead & 32) request += "add_dir=" + music + "&";
    if (lead & 64) request += "recursive=1&item0=1&";
  }
  request.append(reinterpret_cast<const char*>(data) + 1, size - 1);

  station.reset();
  const std::string reply = serve(station, request);
  const bool ran = reply.rfind(zv::HEADER_200, 0) == 0;
  check(ran || reply == zv::HEADER_404 || (request.empty() && reply.empty()),
        "the reply is the 200 header and the script's output, or the 404 text; nothing asked, nothing answered");
  if (ran) check_script_run(station, reply.substr(std::strlen(zv::HEADER_200)));

  // The console echoes the request (up to a NUL); only what follows the echo
  // is the handler's own word.
  const std::string console = station.console_text();
  const std::string echo = request.substr(0, request.find('\0'));
  const auto echo_at = console.find('\n', 1) + 1;
  if (echo_at == 0 || console.compare(echo_at, echo.size(), echo) != 0) return 0;  // received in parts
  const std::string own = console.substr(echo_at + echo.size());
  if (own.find("\n---> Refused connection") != std::string::npos) {
    check(!ran, "a refused request runs nothing");
  }
  if (!ran) check(own.find("Direct ODBC") == std::string::npos, "a request that runs nothing gathers nothing");
  return 0;
}
