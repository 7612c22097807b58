#pragma once
// Drives the real server binary: starts it in a working folder, captures its
// console, talks to it over loopback.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zv::testing {

using namespace std::chrono_literals;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A station laid out as the server expects it: <root>/server is the working
// folder (with www/), <root>/php/php-cgi.exe the interpreter.
struct Station {
  TempDir root;
  std::filesystem::path server() const { return root.path() / "server"; }
  std::filesystem::path www() const { return server() / "www"; }
  Station();  // makes server/www/
  // Links php/php-cgi.exe to the system's php-cgi.
  void link_php_cgi() const;
  // Writes server/www/<relative> with the given text.
  void write_script(const std::string& relative, const std::string& text) const;
};

class ServerProcess {
 public:
  // Starts the server in `working_dir`. `environment` replaces the server's
  // whole environment when given ("NAME=value" entries); otherwise the
  // test's own environment is passed on. `program` runs instead of the
  // server when given (another program of the station, such as the player).
  // Its standard input is /dev/null, or closed when `with_standard_input` is
  // false.
  explicit ServerProcess(const std::filesystem::path& working_dir,
                         std::optional<std::vector<std::string>> environment = std::nullopt,
                         const char* program = nullptr, bool with_standard_input = true);
  ~ServerProcess();  // kills the server and reaps it
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int pid() const { return pid_; }
  // Waits until the server waits for its first client; false if it did not.
  bool wait_until_listening(std::chrono::milliseconds timeout = 10s);
  std::string console() const;  // everything printed so far
  // Waits until `text` appears `times` times on the console.
  bool wait_for_console(const std::string& text, std::chrono::milliseconds timeout = 10s, int times = 1) const;
  // Waits for the server to exit; its exit status, or none on timeout.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = 10s);
  // CPU time (user + system) the server has used so far, in clock ticks.
  long cpu_ticks() const;

 private:
  int pid_ = -1;
  std::filesystem::path console_file_;
  TempDir console_dir_;
  bool exited_ = false;
};

// CPU time (user + system) process `pid` has used so far, in clock ticks (Linux).
long process_cpu_ticks(int pid);

// The test's own environment with the server's fixed limits divided by ten:
// the 30 s ones last 3 s, the first wait for a connection's bytes 1 s.
std::vector<std::string> short_limits_environment();

// Connects to 127.0.0.1:8080, trying again until `timeout` has passed; the
// descriptor, or -1.
int connect_to_server(std::chrono::milliseconds timeout = 5s);
// Sends all of `data`; false on failure.
bool send_all(int fd, const std::string& data);
// Reads until the server closes the connection or `timeout` passes, resting
// `pause` after each piece as a slow client does.
std::string read_until_closed(int fd, std::chrono::milliseconds timeout = 60s, std::chrono::milliseconds pause = 0ms);
// Connects, sends `request`, reads the whole reply, closes.
std::string http_exchange(const std::string& request, std::chrono::milliseconds timeout = 60s);

// Moves the calling process into a network namespace of its own with just a
// loopback interface, so its server may take 127.0.0.1:8080 whatever else
// runs. False when it may not (needs root or CAP_SYS_ADMIN).
bool enter_private_network();

// Number of times `needle` occurs in `text`.
int count_of(const std::string& text, const std::string& needle);

// Where a station page that made a change forwards to (its refresh target,
// "page.php?query"), or "" when the page does not forward.
std::string forward_target(const std::string& page);

// The first link of `page` whose address begins with `start`, "" when none
// does: a change as the station's page offers it, token and all.
std::string link_target(const std::string& page, const std::string& start);

}  // namespace zv::testing
